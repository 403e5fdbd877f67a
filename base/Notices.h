#pragma once
// What the core has to tell the operator. Processing posts a notice and goes on at once: the
// window shows notices one at a time, while datagrams keep being handled.

#include <QString>

#include "base/ProgramInfo.h"

namespace nms {

enum class NoticeIcon { Information, Error };

struct Notice {
    NoticeIcon icon = NoticeIcon::Error;
    QString title; // empty: the program's title
    QString text; // lines joined by CR (code 13)
    bool operator==(const Notice&) const = default;
};

class Notices {
public:
    virtual ~Notices() = default;
    virtual void post(const Notice& notice) = 0;

    void error(const QString& title, const QString& text) { post({NoticeIcon::Error, title, text}); }
    void information(const QString& title, const QString& text) { post({NoticeIcon::Information, title, text}); }
};

} // namespace nms
