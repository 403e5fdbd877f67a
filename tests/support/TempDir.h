#pragma once
// A private folder per test case for the database file.

#include <QDir>
#include <QTemporaryDir>

namespace nms::test {

class TempDir {
public:
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return QDir(dir_.path()).filePath(name); }
    QString database() const { return file(QStringLiteral("nms.ini")); }

private:
    QTemporaryDir dir_;
};

} // namespace nms::test
