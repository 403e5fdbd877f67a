// The notice presenter: what processing has to tell the operator is shown from the event loop,
// one box at a time and never beside a question, with a bounded queue that holds no duplicate;
// datagrams keep being handled while a box is open.

#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include "link/LinkEndpoint.h"
#include "notices/NoticePresenter.h"
#include "support/ConsoleFixture.h"
#include "support/ScriptedMessageBoxes.h"

using namespace nms;
using namespace nms::test;

namespace {

Notice ErrorNotice(const QString& text)
{
    return {NoticeIcon::Error, QStringLiteral("Error!"), text};
}

// Runs the event loop until everything already queued in it (a box scheduled to open) has run.
void Settle()
{
    for (int pass = 0; pass < 2; ++pass) {
        QEventLoop loop;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

} // namespace

class TestNoticePresenter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void postingReturnsAtOnce();
    void oneBoxAtATime();
    void noticeWaitsForTheQuestion();
    void waitingIsBoundedAndHoldsNoDuplicate();
    void showAllNowReturnsOnceAllAreShown();
    void nothingShowsAfterShutdown();
    void datagramsAreHandledWhileABoxIsOpen();
    void floodOfBadFeedbacksCostsAFewBoxes();
};

void TestNoticePresenter::postingReturnsAtOnce()
{
    ScriptedMessageBoxes boxes;
    NoticePresenter presenter(boxes);
    presenter.post(ErrorNotice(QStringLiteral("first\rsecond")));
    presenter.post({NoticeIcon::Information, QStringLiteral("Information"), QStringLiteral("note")});
    // Nothing opens inside the code that posted.
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(presenter.waiting(), 2);

    QTRY_COMPARE(boxes.count(), 2);
    QCOMPARE(boxes.shown.at(0).icon, MsgIcon::Error);
    QCOMPARE(boxes.shown.at(0).title, QStringLiteral("Error!"));
    QCOMPARE(boxes.shown.at(0).text, QStringLiteral("first\rsecond"));
    QVERIFY(!boxes.shown.at(0).question);
    QCOMPARE(boxes.shown.at(1).icon, MsgIcon::Information);
    QCOMPARE(presenter.waiting(), 0);
}

void TestNoticePresenter::oneBoxAtATime()
{
    ScriptedMessageBoxes boxes;
    boxes.setHoldMs(30);
    NoticePresenter presenter(boxes);
    // Posted while the first box is open: it waits its turn behind the ones already waiting.
    connect(&boxes, &ScriptedMessageBoxes::boxShown, this, [&](const QString& text) {
        if (text == QStringLiteral("a"))
            presenter.post(ErrorNotice(QStringLiteral("posted while a was open")));
    });
    for (const char* text : {"a", "b", "c"})
        presenter.post(ErrorNotice(QString::fromLatin1(text)));

    QTRY_COMPARE(boxes.count(), 4);
    QCOMPARE(boxes.texts(), QStringList({"a", "b", "c", "posted while a was open"}));
    QCOMPARE(boxes.maxOpenAtOnce(), 1);
}

void TestNoticePresenter::noticeWaitsForTheQuestion()
{
    ScriptedMessageBoxes boxes;
    boxes.setHoldMs(50);
    NoticePresenter presenter(boxes);
    const QString question = QStringLiteral("Are you sure?");
    int shownWhileAsking = -1;
    connect(&boxes, &ScriptedMessageBoxes::boxShown, this, [&](const QString& text) {
        if (text == question)
            presenter.post(ErrorNotice(QStringLiteral("posted during the question")));
    });
    // One already waiting when the question opens, one posted while it is open (its nested loop
    // runs long enough for both to be due).
    presenter.post(ErrorNotice(QStringLiteral("posted before the question")));
    boxes.setNextAnswer(MsgAnswer::Yes);
    QVERIFY(presenter.ask(QStringLiteral("Send configuration"), question));
    shownWhileAsking = boxes.count();

    QCOMPARE(shownWhileAsking, 1);
    QCOMPARE(boxes.shown.at(0).icon, MsgIcon::Question);
    QVERIFY(boxes.shown.at(0).question);
    QTRY_COMPARE(boxes.count(), 3);
    QCOMPARE(boxes.texts().mid(1), QStringList({"posted before the question", "posted during the question"}));
    QCOMPARE(boxes.maxOpenAtOnce(), 1);
    // Unanswered questions are No.
    QVERIFY(!presenter.ask(QStringLiteral("Send configuration"), question));
}

void TestNoticePresenter::waitingIsBoundedAndHoldsNoDuplicate()
{
    ScriptedMessageBoxes boxes;
    NoticePresenter presenter(boxes);
    constexpr int extra = 10;
    for (int i = 0; i < NoticePresenter::MaxWaiting + extra; ++i)
        presenter.post(ErrorNotice(QStringLiteral("notice %1").arg(i)));
    QCOMPARE(presenter.waiting(), NoticePresenter::MaxWaiting);
    QCOMPARE(presenter.dropped(), extra);

    // A full queue takes nothing more, so test duplicates on a fresh presenter.
    ScriptedMessageBoxes otherBoxes;
    NoticePresenter other(otherBoxes);
    other.post(ErrorNotice(QStringLiteral("same")));
    other.post(ErrorNotice(QStringLiteral("same")));
    other.post({NoticeIcon::Information, QStringLiteral("Error!"), QStringLiteral("same")}); // another icon
    QCOMPARE(other.waiting(), 2);
    QCOMPARE(other.dropped(), 1);

    presenter.showAllNow();
    QCOMPARE(boxes.count(), NoticePresenter::MaxWaiting);
    QCOMPARE(boxes.texts().last(), QStringLiteral("notice %1").arg(NoticePresenter::MaxWaiting - 1));
    // Once shown, the same notice may be shown again.
    other.showAllNow();
    other.post(ErrorNotice(QStringLiteral("same")));
    other.showAllNow();
    QCOMPARE(otherBoxes.texts(), QStringList({"same", "same", "same"}));
}

void TestNoticePresenter::showAllNowReturnsOnceAllAreShown()
{
    ScriptedMessageBoxes boxes;
    boxes.setHoldMs(20);
    NoticePresenter presenter(boxes);
    presenter.showAllNow(); // nothing to show: returns at once
    QCOMPARE(boxes.count(), 0);

    connect(&boxes, &ScriptedMessageBoxes::boxShown, this, [&](const QString& text) {
        if (text == QStringLiteral("b"))
            presenter.post(ErrorNotice(QStringLiteral("posted while b was open")));
    });
    presenter.post(ErrorNotice(QStringLiteral("a")));
    presenter.post(ErrorNotice(QStringLiteral("b")));
    presenter.showAllNow();
    QCOMPARE(boxes.texts(), QStringList({"a", "b", "posted while b was open"}));
    QCOMPARE(boxes.openNow(), 0);
    QVERIFY(!presenter.showing());
    QCOMPARE(presenter.waiting(), 0);
}

void TestNoticePresenter::nothingShowsAfterShutdown()
{
    ScriptedMessageBoxes boxes;
    NoticePresenter presenter(boxes);
    presenter.post(ErrorNotice(QStringLiteral("waiting at shutdown")));
    presenter.shutdown();
    presenter.post(ErrorNotice(QStringLiteral("after shutdown")));
    presenter.showAllNow();
    Settle();
    QCOMPARE(boxes.count(), 0);
    QCOMPARE(presenter.waiting(), 0);

    // Shut down while a box is open: that box closes normally, nothing follows it.
    ScriptedMessageBoxes heldBoxes;
    heldBoxes.setHoldMs(20);
    NoticePresenter held(heldBoxes);
    connect(&heldBoxes, &ScriptedMessageBoxes::boxShown, this, [&] {
        held.post(ErrorNotice(QStringLiteral("posted before shutdown")));
        held.shutdown();
    });
    held.post(ErrorNotice(QStringLiteral("open at shutdown")));
    held.post(ErrorNotice(QStringLiteral("waiting at shutdown")));
    QTRY_COMPARE(heldBoxes.count(), 1);
    QTRY_VERIFY(!held.showing());
    Settle();
    QCOMPARE(heldBoxes.texts(), QStringList {"open at shutdown"});
}

void TestNoticePresenter::datagramsAreHandledWhileABoxIsOpen()
{
    ConsoleFixture f;
    QVERIFY(f.load());
    f.showNotices();
    f.boxes.clear();
    f.boxes.setHoldMs(500);
    // What the box is doing at the moment each LevelSamples reaches the core.
    QList<int> openOnArrival;
    connect(&f.core().link, &LinkEndpoint::levelSamplesArrived, this, [&](const QByteArray& datagram) {
        openOnArrival.append(datagram.size() == 1440 ? f.boxes.openNow() : -1);
    });
    connect(&f.boxes, &ScriptedMessageBoxes::boxShown, this,
            [&] { QVERIFY(f.element->sendToConsole(QByteArray(1440, '\x10'), f.consolePort())); });

    f->notices->post(ErrorNotice(QStringLiteral("held open")));
    QTRY_COMPARE(f.boxes.count(), 1);
    QTRY_COMPARE(f.boxes.openNow(), 0);
    QCOMPARE(openOnArrival, QList<int> {1});
}

void TestNoticePresenter::floodOfBadFeedbacksCostsAFewBoxes()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(QStringLiteral("02000000010A"), StoredElement {}));
    QVERIFY(f.load());
    f.showNotices();
    f.boxes.clear();
    f.boxes.setHoldMs(20);
    FeedbackFields invalidRole;
    invalidRole.role = 3;
    const QByteArray datagram = invalidRole.bytes();
    auto flood = [&] {
        for (int i = 0; i < 500; ++i)
            f.core().link.Route(datagram);
    };
    // Half before any box opens, half while the first one is open.
    bool second = false;
    connect(&f.boxes, &ScriptedMessageBoxes::boxShown, this, [&] {
        if (!std::exchange(second, true))
            flood();
    });
    flood();
    f.showNotices();

    QVERIFY2(f.boxes.count() >= 1 && f.boxes.count() <= 2, qPrintable(QString::number(f.boxes.count())));
    QCOMPARE(f.boxes.maxOpenAtOnce(), 1);
    for (const ShownBox& box : f.boxes.shown)
        QCOMPARE(box.text, QStringLiteral("An error occured while retrieving 'Element Type':\rFeedback is corrupted."));
    QCOMPARE(f->notices->dropped() + f.boxes.count(), 1000);
}

QTEST_MAIN(TestNoticePresenter)
#include "tst_noticepresenter.moc"
