#pragma once
// The core's notices as a test sees them: every one recorded in order, none shown.

#include <QList>
#include <QObject>
#include <QStringList>

#include "base/Notices.h"

namespace nms::test {

class RecordingNotices final : public QObject, public Notices {
    Q_OBJECT
public:
    void post(const Notice& notice) override
    {
        shown.append(notice);
        Q_EMIT posted(notice.text);
    }

    QList<Notice> shown;
    int count() const { return int(shown.size()); }
    QStringList texts() const
    {
        QStringList result;
        for (const Notice& notice : shown)
            result.append(notice.text);
        return result;
    }
    void clear() { shown.clear(); }

Q_SIGNALS:
    void posted(const QString& text);
};

} // namespace nms::test
