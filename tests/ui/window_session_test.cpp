// START and the worker: the session runs on a thread of its own, each of its calls is carried
// out on the window's thread in order while the worker waits, Enter starts only while START
// is enabled, and a window closed during a session neither waits for it nor is touched by it.
#include <QThread>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

#include "window_fixture.h"

namespace kestrel::test {
namespace {

using namespace std::chrono_literals;

// Waits up to 5 s for `flag` without running the event loop (a session waits so at a gate);
// QTest::qWaitFor runs the loop, for 5 s at most.
bool waitUntil(const std::atomic<bool>& flag) {
    for (int i = 0; i < 5000 && !flag; ++i)
        std::this_thread::sleep_for(1ms);
    return flag;
}
// The fields a session read, as one line.
std::string text(const SessionFields& f) {
    return std::string(f.portName) + " " + f.rateText + " usb " + std::to_string(f.usb) + " none " +
           std::to_string(f.noFirmware) + " '" + f.firmwareName + "'";
}

TEST_F(WindowTest, StartRunsTheSessionOnAWorkerAndItsCallsArriveInOrderOnTheWindowsThread) {
    std::atomic<int> returned{0};
    std::atomic<bool> finished{false};
    SessionFields seen;
    session = [&](SessionHost& host) {
        host.readFields(&seen), ++returned;
        host.setStatus(""), ++returned;
        host.setProgressRange(300), ++returned;
        host.setProgressPosition(10), ++returned;
        host.setStatus("Firmware download in progress."), ++returned;
        host.setProgressPosition(300), ++returned;
        host.setStatus("Download succeeded."), ++returned;
        host.enableStart(), ++returned;
        finished = true;
        return SessionOutcome();
    };
    createShown();
    get<QCheckBox>(kNoFirmwareId)->setChecked(true);
    rate()->setEditText("9600");
    status()->setText("from the last session");

    // What happened, with the number of calls returned by then, and where it happened.
    std::vector<std::string> observed;
    auto record = [&](const std::string& what) {
        observed.push_back(what + " after " + std::to_string(returned.load()) +
                           (QThread::currentThread() == qApp->thread() ? "" : " elsewhere"));
    };
    QObject::connect(status(), &QLineEdit::textChanged,
                     [&](const QString& t) { record("status \"" + t.toStdString() + "\""); });
    QObject::connect(progress(), &QProgressBar::valueChanged,
                     [&](int v) { record("position " + std::to_string(v)); });

    QTest::mouseClick(start(), Qt::LeftButton);
    EXPECT_FALSE(start()->isEnabled());  // at once: the session runs on a worker
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.load(); }));
    EXPECT_EQ(text(seen), "COM1 9600 usb 0 none 1 ''");
    // Each effect happened while its call was still waiting: the count of returned calls is
    // the number of calls before it.
    EXPECT_EQ(observed, split("status \"\" after 1|position 10 after 3|status \"Firmware download "
                              "in progress.\" after 4|position 300 after 5|status \"Download "
                              "succeeded.\" after 6"));
    EXPECT_TRUE(start()->isEnabled());
}

TEST_F(WindowTest, EnterStartsOnlyWhileStartIsEnabledAndWithoutRefreshingTheUsbOption) {
    lookups = std::make_unique<FixedUsbPortLookups>("COM5", nullptr);
    std::atomic<int> runs{0}, finished{0};
    std::atomic<bool> gate{false};
    SessionFields seen;
    session = [&](SessionHost& host) {
        host.readFields(&seen), ++runs, waitUntil(gate);
        host.enableStart(), ++finished;
        return SessionOutcome();
    };
    createShown();
    typeInto(port(), "COM5");
    QTest::keyClick(port()->lineEdit(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs.load() == 1; }));
    // The field never lost the focus; Enter adds nothing to the list.
    EXPECT_EQ(text(seen) + " " + std::to_string(port()->count()), "COM5 115200 usb 0 none 0 '' 9");
    // While the session runs, Enter does nothing, from whichever control.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(rate()->lineEdit(), Qt::Key_Enter);
    QTest::qWait(100);
    EXPECT_EQ(runs.load(), 1);

    gate = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return start()->isEnabled(); }));
    // Clicking START moves the focus first, so the option is refreshed before the session.
    port()->setFocus();
    QTest::mouseClick(start(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.load() == 2; }));
    EXPECT_TRUE(seen.usb);
    // Enabled again, START takes Enter again.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return finished.load() == 3; }));
}

TEST_F(WindowTest, ClosingDuringASessionEndsAtOnceAndLaterReportsDoNothing) {
    std::atomic<bool> gate{false}, posted{false}, released{false}, end{false}, finished{false};
    session = [&](SessionHost& host) {
        SessionFields f;
        host.readFields(&f);
        host.setStatus("running");
        waitUntil(gate);
        posted = true;
        host.setStatus("too late");  // waits for the window, which is about to close
        released = true;
        waitUntil(end);
        // The window is gone by now: these must neither block nor reach it.
        host.setStatus("after the end"), host.setProgressRange(10), host.setProgressPosition(5);
        host.readFields(&f), host.enableStart();
        finished = true;
        return SessionOutcome();
    };
    createShown();
    QTest::mouseClick(start(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status()->text() == "running"; }));
    gate = true;
    // Without running the event loop, give the worker time to queue its call and wait.
    ASSERT_TRUE(waitUntil(posted));
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(released);
    const auto before = std::chrono::steady_clock::now();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);  // no waiting for the session
    EXPECT_EQ(exitCodes, std::vector<int>({2}));
    // The waiting call is released without effect.
    EXPECT_TRUE(QTest::qWaitFor([&] { return released.load(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(status()->text(), "running");
    window.reset();  // destroyed, as the process would be
    end = true;
    EXPECT_TRUE(waitUntil(finished));  // no event loop runs: nothing could serve a call
}

TEST_F(WindowTest, TheBarFillsExactlyAtTheLastBlock) {
    createShown();
    const auto at = [&](int32_t position) {
        window->setProgressPosition(position);
        return progress()->value();
    };
    // Counts past 16 bits keep their whole range; the bar keeps the position in its range.
    for (int32_t n : {300, 65535, 65536, 70000, 35987 * 64}) {
        window->setProgressRange(n);
        EXPECT_EQ(std::vector<int>({progress()->maximum(), at(n - 1), at(n), at(n + 1), at(-4)}),
                  std::vector<int>({n, n - 1, n, n, 0}));
    }
    // An image without records: 0..0, shown as an empty bar rather than a busy one.
    window->setProgressRange(0);
    EXPECT_EQ(at(0), 0);
    EXPECT_NE(progress()->maximum(), progress()->minimum());
}

// WCAG 2 contrast ratio of two colours.
double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(WindowTest, AnErrorTextIsDrawnInAReadableRedOtherTextsInTheNormalColour) {
    createShown();
    const QColor normal = window->palette().color(QPalette::Text);
    // The dialog's own (light) background, where the red darkens, then a dark theme's, where it
    // lightens.
    for (const QColor background :
         {status()->palette().color(QPalette::Base), QColor(0x35, 0x35, 0x35)}) {
        QPalette colours = status()->palette();
        colours.setColor(QPalette::Base, background);
        status()->setPalette(colours);
        for (std::string s : {"ERROR: Cannot open COM-Port.", "Download succeeded.", "ERROR:x"}) {
            window->setStatus(s.c_str());
            const QColor shown = status()->palette().color(QPalette::Text);
            const bool error = s.rfind("ERROR: ", 0) == 0;
            EXPECT_TRUE(error ? shown.hslHue() == 0 && contrast(shown, background) >= 4.5
                              : shown == normal)
                << s << " on " << background.name().toStdString();
        }
    }
}

TEST_F(WindowTest, APortThatDidNotOpenIsExplainedInTheStatusTooltipAndOnStandardErrorOnce) {
    writeFile(devRoot + "/ttyUSB0", "");
    ScopedEnv devices("KESTREL_DEV_ROOT", devRoot.c_str());  // the ports the explanation lists
    SessionResult result = SessionResult::Succeeded;
    const std::string missing = devRoot + "/ttyUSB7";
    // A session that reports `result` with the reason that `missing` does not exist.
    session = [&](SessionHost& host) {
        SessionOutcome outcome;
        outcome.result = result;  // read before START is enabled again
        host.enableStart();
        outcome.reason.set(ENOENT, missing.c_str());
        return outcome;
    };
    std::atomic<bool> gate{true};
    std::atomic<int> explained{0};
    explain = [&](const SystemError& reason) {
        waitUntil(gate);  // the explanation takes its time; START is enabled meanwhile
        ++explained;
        return portProblemText(reason);
    };
    createShown();
    const std::string expected = missing + ": No such file or directory\n" +
                                 "Serial ports on this machine:\n  " + devRoot + "/ttyUSB0";
    const auto run = [&](SessionResult r) {
        result = r;
        QTest::mouseClick(start(), Qt::LeftButton);
        return QTest::qWaitFor([&] { return start()->isEnabled(); });
    };
    ::testing::internal::CaptureStderr();
    // Any other result (they all take the same way) is not explained.
    for (const auto& [r, explains] : {std::pair{SessionResult::TransferFailed, false},
                                      {SessionResult::PortNotOpened, true},
                                      {SessionResult::UsbPortNotReopened, true}}) {
        ASSERT_TRUE(run(r));
        const auto shown = [&] { return status()->toolTip().toStdString() == expected; };
        EXPECT_TRUE(!explains || QTest::qWaitFor(shown));
    }
    EXPECT_EQ(explained.load(), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "kestrel: " + expected + "\nkestrel: " + expected + "\n");

    // The next session clears the explanation at once, and a late one stays away.
    gate = false;
    QTest::mouseClick(start(), Qt::LeftButton);
    EXPECT_EQ(status()->toolTip(), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return start()->isEnabled(); }));
    ASSERT_TRUE(run(SessionResult::Succeeded));  // before the last one is explained
    ::testing::internal::CaptureStderr();
    gate = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return explained.load() == 3; }));
    QTest::qWait(200);  // the late explanation reaches the window
    EXPECT_EQ(status()->toolTip(), "");
    ::testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace kestrel::test
