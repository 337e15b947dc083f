#include "system/U_ThreadDialogs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/MainThreadPump.h"
#include "platform/Thread.h"

namespace {

struct TShownDialog {
    std::string caption;
    std::string message;
    TMsgDlgType type;
    TMsgDlgButtons buttons;
    int helpContext;
    std::thread::id thread;
};

// Installs a fake dialog function and leaves the process as it found it: default dialog
// function, no hooks, no wake-up.
class ThreadDialogFixture : public ::testing::Test {
protected:
    void TearDown() override {
        SetMessageDlgFunc(nullptr);
        OnThreadDialogBegin = nullptr;
        OnThreadDialogEnd = nullptr;
        SetWakeMainThread(nullptr);
    }

    // For a table of cases inside one test: back to the start, records emptied.
    void Restart() {
        TearDown();
        std::lock_guard<std::mutex> lock(FShownLock);
        FShown.clear();
        FLog.clear();
    }

    // The fake answers by message text; it runs wherever MessageDlg is called.
    void InstallFake(std::map<std::string, int> answers, std::function<void(const std::string&)> during = {}) {
        SetMessageDlgFunc([this, answers = std::move(answers), during = std::move(during)](
                              const std::string& caption, const std::string& message, TMsgDlgType type,
                              TMsgDlgButtons buttons, int helpContext) {
            {
                std::lock_guard<std::mutex> lock(FShownLock);
                FShown.push_back({caption, message, type, buttons, helpContext, std::this_thread::get_id()});
            }
            Log("dialog " + message);
            if (during) during(message);
            auto it = answers.find(message);
            if (it == answers.end()) throw Exception("no answer for " + message);
            return it->second;
        });
    }

    void InstallHooks(bool begin, bool end) {
        if (begin) OnThreadDialogBegin = [this] { Log(std::string("begin") + (IsMainThread() ? "" : " off main")); };
        if (end) OnThreadDialogEnd = [this] { Log(std::string("end") + (IsMainThread() ? "" : " off main")); };
    }

    void Log(const std::string& text) {
        std::lock_guard<std::mutex> lock(FShownLock);
        FLog.push_back(text);
    }

    std::vector<TShownDialog> Shown() {
        std::lock_guard<std::mutex> lock(FShownLock);
        return FShown;
    }
    std::vector<std::string> LogLines() {
        std::lock_guard<std::mutex> lock(FShownLock);
        return FLog;
    }

    const TMsgDlgButtons FYesNo = DlgButtons({mbYes, mbNo});

private:
    std::mutex FShownLock;
    std::vector<TShownDialog> FShown;
    std::vector<std::string> FLog;
};

}  // namespace

using ThreadDialogs = ThreadDialogFixture;
using ThreadDialogsConcurrency = ThreadDialogFixture;

TEST_F(ThreadDialogs, WithoutADialogFunctionTheAnswerIsNo) {
    InstallHooks(true, true);
    EXPECT_EQ(ThreadMessageDlg("Разрешить?", mtConfirmation, FYesNo), mrNo);
    EXPECT_EQ(MessageDlg("", "Разрешить?", mtConfirmation, FYesNo), mrNo);
    // The hooks still surround the (default) dialog.
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"begin", "end"}));
}

TEST_F(ThreadDialogs, OnTheMainThreadTheDialogShowsAtOnce) {
    std::atomic<int> wakes{0};
    SetWakeMainThread([&] { ++wakes; });
    InstallFake({{"Добавить?\r\nВторая строка", mrYes}, {"Ошибка", mrOk}});

    EXPECT_EQ(ThreadMessageDlg("Добавить?\r\nВторая строка", mtConfirmation, FYesNo), mrYes);
    EXPECT_EQ(ThreadMessageDlg("Заголовок", "Ошибка", mtError, DlgButtons({mbOK})), mrOk);

    auto shown = Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].caption, "");
    EXPECT_EQ(shown[0].message, "Добавить?\r\nВторая строка");
    EXPECT_EQ(shown[0].type, mtConfirmation);
    EXPECT_EQ(shown[0].buttons, FYesNo);
    EXPECT_EQ(shown[0].helpContext, 0);
    EXPECT_EQ(shown[1].caption, "Заголовок");
    EXPECT_EQ(shown[1].type, mtError);
    EXPECT_EQ(shown[1].buttons, DlgButtons({mbOK}));
    for (const auto& s : shown) EXPECT_EQ(s.thread, std::this_thread::get_id());
    EXPECT_EQ(wakes.load(), 0);  // nothing went through the queue
}

TEST_F(ThreadDialogs, HooksRunInOrderAroundTheDialogAndUnsetOnesAreSkipped) {
    struct Case {
        bool begin, end;
        std::vector<std::string> log;
    } cases[] = {
        {true, true, {"begin", "dialog Q", "end"}},
        {true, false, {"begin", "dialog Q"}},
        {false, true, {"dialog Q", "end"}},
        {false, false, {"dialog Q"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "begin " << c.begin << " end " << c.end);
        Restart();
        InstallFake({{"Q", mrYes}});
        InstallHooks(c.begin, c.end);
        EXPECT_EQ(ThreadMessageDlg("Q", mtConfirmation, FYesNo), mrYes);
        EXPECT_EQ(LogLines(), c.log);
    }
}

TEST_F(ThreadDialogs, FailingDialogStillRunsTheEndHookAndReachesTheCaller) {
    InstallFake({});  // no answer: the fake raises
    InstallHooks(true, true);
    try {
        ThreadMessageDlg("Q", mtConfirmation, FYesNo);
        ADD_FAILURE() << "the dialog's error was lost";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "no answer for Q");
    }
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"begin", "dialog Q", "end"}));
}

TEST_F(ThreadDialogsConcurrency, WorkerQuestionIsShownByTheMainThread) {
    InstallFake({{"Разрешить домен?", mrYes}});
    InstallHooks(true, true);
    TFuncThread worker([&](TFuncThread& self) { self.SetReturnValue(ThreadMessageDlg("Разрешить домен?", mtConfirmation, FYesNo)); });
    worker.Start();
    ASSERT_TRUE(PumpUntil(worker.Done));
    EXPECT_EQ(worker.WaitFor(), mrYes);

    auto shown = Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].thread, std::this_thread::get_id());
    EXPECT_EQ(shown[0].caption, "");
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"begin", "dialog Разрешить домен?", "end"}));
}

TEST_F(ThreadDialogsConcurrency, TwoWorkersAskingAtOnceEachGetTheirOwnAnswer) {
    // Both questions are queued before the main thread answers any. With `nested`, the first
    // dialog runs a loop of its own (as a modal dialog does) and the second question is
    // answered inside it.
    for (bool nested : {false, true}) {
        SCOPED_TRACE(nested ? "second asked while the first is on screen" : "one after the other");
        Restart();
        std::atomic<int> queued{0};
        TEvent bothQueued, oneAnswered(false);
        SetWakeMainThread([&] {
            if (++queued == 2) bothQueued.SetEvent();
        });
        int onScreen = 0, mostOnScreen = 0;  // main thread only
        InstallFake({{"domain-a.example", mrYes}, {"domain-b.example", mrNo}}, [&](const std::string&) {
            mostOnScreen = std::max(mostOnScreen, ++onScreen);
            if (nested && onScreen == 1) PumpUntil(oneAnswered);
            --onScreen;
            oneAnswered.SetEvent();
        });
        std::atomic<int> answerA{-1}, answerB{-1};
        TFuncThread a([&](TFuncThread&) { answerA = ThreadMessageDlg("domain-a.example", mtConfirmation, FYesNo); });
        TFuncThread b([&](TFuncThread&) { answerB = ThreadMessageDlg("domain-b.example", mtConfirmation, FYesNo); });
        a.Start();
        b.Start();
        ASSERT_EQ(bothQueued.WaitFor(kTestWaitMs), TWaitResult::wrSignaled);
        EXPECT_TRUE(CheckSynchronize(0));
        a.WaitFor();
        b.WaitFor();
        EXPECT_EQ(answerA.load(), mrYes);
        EXPECT_EQ(answerB.load(), mrNo);
        EXPECT_EQ(mostOnScreen, nested ? 2 : 1);
        auto shown = Shown();
        ASSERT_EQ(shown.size(), 2u);
        for (const auto& s : shown) EXPECT_EQ(s.thread, std::this_thread::get_id());
    }
}

TEST_F(ThreadDialogsConcurrency, FailingDialogOfAWorkerRunsTheEndHookAndReachesTheWorker) {
    InstallFake({});
    InstallHooks(true, true);
    std::string error;
    std::atomic<int> answer{-1};
    TFuncThread worker([&](TFuncThread&) {
        try {
            answer = ThreadMessageDlg("Q", mtConfirmation, FYesNo);
        } catch (const Exception& e) {
            error = e.Message();
        }
    });
    worker.Start();
    worker.WaitFor();
    EXPECT_EQ(error, "no answer for Q");
    EXPECT_EQ(answer.load(), -1);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"begin", "dialog Q", "end"}));
}

TEST_F(ThreadDialogsConcurrency, InstallingTheDialogFunctionWhileWorkersAskIsSafe) {
    // Workers ask on the main thread while the main thread swaps the function between calls;
    // every answer comes from one of the installed functions or the default.
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    TFuncThread worker([&](TFuncThread&) {
        while (!stop.load()) {
            int r = MessageDlg("", "x", mtConfirmation, FYesNo);  // read from another thread on purpose
            if (r != mrNo && r != mrYes) ++bad;
        }
    });
    worker.Start();
    for (int i = 0; i < 200; ++i) {
        if (i % 2)
            SetMessageDlgFunc([](const std::string&, const std::string&, TMsgDlgType, TMsgDlgButtons, int) { return int(mrYes); });
        else
            SetMessageDlgFunc(nullptr);
    }
    stop = true;
    worker.WaitFor();
    EXPECT_EQ(bad.load(), 0);
}
