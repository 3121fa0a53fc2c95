// A save that does not run to its end leaves the target as it was and no
// temporary behind: stopped through its control, past the process's file
// size limit, or ended by a signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "image/bitmap_file.h"
#include "image/map_image.h"
#include "image/save_file.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace velmora;

namespace {

namespace fs = std::filesystem;
using save_file::Stage;

// Saves in a fresh folder over a file that holds "previous".
class SaveInterruption : public testing::Test {
protected:
    void SetUp() override {
        directory_ = MakeTestFolder("velmora-interrupted");
        target_ = directory_ / "map.bmp";
        std::ofstream(target_, std::ios::binary) << "previous";
        surface_ = CreateCompatibleSurface();
    }
    void TearDown() override {
        save_file::Hooks().pause = nullptr;
        save_file::Hooks().namedTemporary = false;
        fs::remove_all(directory_);
    }

    // A map of about megabytes MiB: its pixels do not matter.
    MapImage Map(int megabytes) {
        std::optional<MapImage> image = CreateMapImage(*surface_, 1024, 341 * megabytes);
        EXPECT_TRUE(image);
        return std::move(*image);
    }

    // The target still holds "previous", and it is all the folder holds.
    void ExpectUntouched() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory_)) {
            names.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(names, std::vector<std::string>{"map.bmp"});
        const std::vector<std::uint8_t> kept = ReadFileBytes(target_);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous");
    }

    // Whether saves in the folder get a temporary without a name, which is
    // named only at the end.
    bool UnnamedTemporaries() const {
#if defined(O_TMPFILE)
        const int fd = ::open(directory_.c_str(), O_TMPFILE | O_WRONLY, 0600);
        if (fd < 0) {
            return false;
        }
        ::close(fd);
        return fs::exists("/proc/self/fd");
#else
        return false;
#endif
    }
    static constexpr const char* NoUnnamedTemporaries =
        "this system or file system gives no temporary without a name: a save's temporary is named from the start";

    fs::path directory_;
    fs::path target_;
    std::unique_ptr<MemorySurface> surface_;
};

// Where a stop is seen: before anything is written, between pieces, after
// the flush, and once an unnamed temporary has its name.
struct StopCase {
    const char* what;
    Stage stage;
    int atPause;  // the pause at that stage that asks for the stop; 0: asked before the save
    bool namedTemporary;
};

SaveControl* stopping = nullptr;
std::atomic<int> stopAt{0};
std::atomic<Stage> stopStage{Stage::Chunk};

void StopAtStage(Stage stage) {
    if (stage == stopStage.load() && --stopAt == 0) {
        stopping->stop = true;
    }
}

class SaveStop : public SaveInterruption, public testing::WithParamInterface<StopCase> {};

TEST_P(SaveStop, LeavesTheTargetAndNoTemporary) {
    const StopCase& c = GetParam();
    if (c.stage == Stage::Named && !UnnamedTemporaries()) {
        GTEST_SKIP() << NoUnnamedTemporaries;
    }
    const MapImage image = Map(3);
    SaveControl control;
    stopping = &control;
    stopAt = c.atPause;
    stopStage = c.stage;
    control.stop = c.atPause == 0;
    save_file::Hooks().namedTemporary = c.namedTemporary;
    save_file::Hooks().pause = StopAtStage;
    int errorNumber = 0;
    EXPECT_EQ(SaveBitmapFile(target_.string(), image.bitmap.get(), surface_.get(), errorNumber, &control), E_FAIL);
    EXPECT_EQ(errorNumber, SaveStoppedError);
    const std::uint64_t fileSize = 54 + image.Pixels().size();
    EXPECT_EQ(control.total, fileSize);
    if (c.stage == Stage::Chunk) {
        EXPECT_LT(control.written, fileSize);
    }
    ExpectUntouched();
}

// Without a stop, a watched save is complete and counts every byte.
TEST_F(SaveInterruption, WatchedSaveCountsEveryByte) {
    const MapImage image = Map(3);
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporary" : "unnamed temporary");
        save_file::Hooks().namedTemporary = named;
        SaveControl control;
        int errorNumber = -1;
        EXPECT_EQ(SaveBitmapFile(target_.string(), image.bitmap.get(), surface_.get(), errorNumber, &control), S_OK);
        EXPECT_EQ(errorNumber, 0);
        EXPECT_EQ(control.total, 54 + image.Pixels().size());
        EXPECT_EQ(control.written, control.total);
        EXPECT_EQ(fs::file_size(target_), control.total);
    }
}

const StopCase StopCases[] = {
    {"BeforeTheSave", Stage::Chunk, 0, false},
    {"AfterTheFirstPiece", Stage::Chunk, 1, false},
    {"AfterTheSecondPieceNamed", Stage::Chunk, 2, true},
    {"AfterTheFlush", Stage::Flushed, 1, false},
    {"AfterTheFlushNamed", Stage::Flushed, 1, true},
    {"OnceNamed", Stage::Named, 1, false},
};
INSTANTIATE_TEST_SUITE_P(Stages, SaveStop, testing::ValuesIn(StopCases),
                         [](const testing::TestParamInfo<StopCase>& info) { return info.param.what; });

// A program killed in the middle of a save, so that none of its own code
// runs any more (SIGKILL, TerminateProcess), leaves the target and, where
// the system offers it, no temporary: an unnamed one on Linux, one marked
// for deletion on Windows.
void KillThisProgram(Stage stage) {
    if (stage != Stage::Chunk) {
        return;
    }
#ifdef _WIN32
    ::TerminateProcess(::GetCurrentProcess(), 3);
#else
    ::raise(SIGKILL);
#endif
}

// In the death test's child, which on Windows is this program started
// again with folders of its own: the target's name comes in the environment.
void SaveAndGetKilled() {
    const auto surface = CreateCompatibleSurface();
    const std::optional<MapImage> image = CreateMapImage(*surface, 1024, 1023);
    save_file::Hooks().pause = KillThisProgram;
    int errorNumber = 0;
    (void)SaveBitmapFile(std::getenv("VELMORA_KILLED_SAVE"), image->bitmap.get(), surface.get(), errorNumber);
}

TEST_F(SaveInterruption, KilledProgramLeavesNoTemporary) {
#ifdef _WIN32
    ASSERT_EQ(::_putenv_s("VELMORA_KILLED_SAVE", target_.string().c_str()), 0);
    EXPECT_EXIT(SaveAndGetKilled(), testing::ExitedWithCode(3), "");
#else
    if (!UnnamedTemporaries()) {
        GTEST_SKIP() << NoUnnamedTemporaries << ", which a killed program leaves behind";
    }
    ASSERT_EQ(::setenv("VELMORA_KILLED_SAVE", target_.c_str(), 1), 0);
    EXPECT_EXIT(SaveAndGetKilled(), testing::KilledBySignal(SIGKILL), "");
#endif
    ExpectUntouched();
}

#ifndef _WIN32

// A child process that is ended and waited for however the test leaves.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // The child's wait status once it has ended.
    int Wait() {
        int status = 0;
        EXPECT_EQ(::waitpid(pid_, &status, 0), pid_);
        pid_ = -1;
        return status;
    }
    [[nodiscard]] pid_t Pid() const { return pid_; }

private:
    pid_t pid_;
};

// Runs body in a child process and returns its wait status.
template <typename Body>
int InChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    return Child(pid).Wait();
}

// A save past the file size limit fails with EFBIG in a process that goes
// on, the old file kept and no temporary left.
TEST_F(SaveInterruption, FileSizeLimitFailsTheSaveNotTheProgram) {
    const MapImage image = Map(3);
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "named temporary" : "unnamed temporary");
        const int status = InChild([&] {
            InstallSaveCleanup();
            save_file::Hooks().namedTemporary = named;
            const rlimit limit{1 << 20, 1 << 20};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                ::_exit(100);
            }
            int errorNumber = 0;
            const HRESULT result = SaveBitmapFile(target_.string(), image.bitmap.get(), surface_.get(), errorNumber);
            ::_exit(result == E_FAIL && errorNumber == EFBIG ? 0 : 1);
        });
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        ExpectUntouched();
    }
}

// A signal that ends the program during a save: the program ends by that
// signal, and leaves the old file and no temporary, whether the temporary
// had a name yet or not.
struct SignalCase {
    const char* what;
    int signalNumber;
    Stage heldAt;
    bool namedTemporary;
};

// In the child: the stage to hold the save at, and the pipe's end that says
// it is held.
Stage holdAt = Stage::Chunk;
int heldWrite = -1;

void HoldTheSave(Stage stage) {
    if (stage != holdAt) {
        return;
    }
    const char byte = 1;
    (void)::write(heldWrite, &byte, 1);
    for (;;) {
        ::pause();
    }
}

class SaveSignal : public SaveInterruption, public testing::WithParamInterface<SignalCase> {};

TEST_P(SaveSignal, EndsTheProgramAndLeavesNoTemporary) {
    const SignalCase& c = GetParam();
    const bool unnamed = !c.namedTemporary && UnnamedTemporaries();
    if (c.heldAt == Stage::Named && !unnamed) {
        GTEST_SKIP() << NoUnnamedTemporaries;
    }
    const MapImage image = Map(3);
    int held[2];
    ASSERT_EQ(::pipe(held), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(held[0]);
        heldWrite = held[1];
        holdAt = c.heldAt;
        const rlimit noCore{0, 0};  // SIGQUIT would dump core
        ::setrlimit(RLIMIT_CORE, &noCore);
        InstallSaveCleanup();
        save_file::Hooks().namedTemporary = c.namedTemporary;
        save_file::Hooks().pause = HoldTheSave;
        int errorNumber = 0;
        (void)SaveBitmapFile(target_.string(), image.bitmap.get(), surface_.get(), errorNumber);
        ::_exit(0);  // the save was never held
    }
    Child child(pid);
    ::close(held[1]);
    pollfd wait{held[0], POLLIN, 0};
    const bool isHeld = ::poll(&wait, 1, 120000) == 1;
    ::close(held[0]);
    if (isHeld) {
        // The temporary is on disk under its name where the case says so:
        // then the handler is what removes it.
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory_)) {
            ++entries;
        }
        EXPECT_EQ(entries, !unnamed || c.heldAt == Stage::Named ? 2u : 1u);
    }
    ASSERT_EQ(::kill(child.Pid(), c.signalNumber), 0);
    const int status = child.Wait();
    ASSERT_TRUE(isHeld) << "the save in the child was never held";
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), c.signalNumber);
    ExpectUntouched();
}

const SignalCase SignalCases[] = {
    {"TermWhileWritingNamed", SIGTERM, Stage::Chunk, true},
    {"IntWhileWritingNamed", SIGINT, Stage::Chunk, true},
    {"HupWhileWritingNamed", SIGHUP, Stage::Chunk, true},
    {"QuitWhileWritingNamed", SIGQUIT, Stage::Chunk, true},
    {"TermAfterTheFlushNamed", SIGTERM, Stage::Flushed, true},
    {"TermWhileWritingUnnamed", SIGTERM, Stage::Chunk, false},
    {"TermOnceNamed", SIGTERM, Stage::Named, false},
    {"HupOnceNamed", SIGHUP, Stage::Named, false},
};
INSTANTIATE_TEST_SUITE_P(Signals, SaveSignal, testing::ValuesIn(SignalCases),
                         [](const testing::TestParamInfo<SignalCase>& info) { return info.param.what; });

// The signals the program ignores or handles itself stay so.
TEST(InstallSaveCleanup, LeavesSignalsThatAreNotAtTheirDefault) {
    const int status = InChild([] {
        ::signal(SIGHUP, SIG_IGN);  // as nohup starts a program
        InstallSaveCleanup();
        struct sigaction hup {}, term {}, fileSize {};
        ::sigaction(SIGHUP, nullptr, &hup);
        ::sigaction(SIGTERM, nullptr, &term);
        ::sigaction(SIGXFSZ, nullptr, &fileSize);
        const bool kept = hup.sa_handler == SIG_IGN;
        const bool taken = term.sa_handler != SIG_DFL && term.sa_handler != SIG_IGN;
        const bool ignored = fileSize.sa_handler == SIG_IGN;
        ::_exit(kept && taken && ignored ? 0 : 1);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

#else

TEST(SaveSignal, EndsTheProgramAndLeavesNoTemporary) {
    GTEST_SKIP() << "Windows has no signals that end a program and no file size limit; the system deletes an "
                    "unfinished temporary however the program ends, as the stop cases show for a save given up";
}

#endif

}  // namespace
