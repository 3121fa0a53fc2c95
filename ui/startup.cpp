#include "ui/startup.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/messages.h"

namespace velmora {

namespace {

constexpr char ScaleFactorVariable[] = "QT_SCALE_FACTOR";

bool Unset(const char* value) noexcept {
    return value == nullptr || *value == '\0';
}

// What start-up needs while Qt makes its application: the standard error it
// hides meanwhile, and what was printed there.
struct Capture {
    DisplayEnvironment environment;
    int savedError = -1;   // the real standard error
    std::FILE* file = nullptr;  // where standard error goes meanwhile
    QtMessageHandler previous = nullptr;
};
Capture* capture = nullptr;

std::string ReadAll(std::FILE* file) {
    std::string text;
    std::fflush(file);
    std::rewind(file);
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, got);
    }
    return text;
}

// Qt gives up when no platform starts: say why in one line instead of its
// advice to reinstall, and end with status 1.
void OnStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        capture->previous(type, context, message);
        return;
    }
    const std::string printed = capture->file != nullptr ? ReadAll(capture->file) : std::string();
    if (capture->savedError >= 0) {
        ::dup2(capture->savedError, STDERR_FILENO);
    }
    const std::string line = messages::NoDisplay(NoDisplayReasons(capture->environment, printed)) + "\n";
    (void)!::write(STDERR_FILENO, line.data(), line.size());
    ::_exit(1);
}

// The platforms Qt is to try: those of a -platform argument, else those of
// QT_QPA_PLATFORM.
std::string PlatformsTried(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string_view(argv[i]) == "-platform") {
            return argv[i + 1];
        }
    }
    const char* variable = std::getenv("QT_QPA_PLATFORM");
    return variable == nullptr ? std::string() : variable;
}

}  // namespace

bool PositiveNumber(const char* text) noexcept {
    if (Unset(text)) {
        return false;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return *end == '\0' && std::isfinite(value) && value > 0;
}

std::string NoDisplayReasons(const DisplayEnvironment& environment, std::string_view printed) {
    std::string reasons;
    std::string_view rest = environment.platforms;
    while (!rest.empty()) {
        const std::size_t semicolon = rest.find(';');
        std::string_view platform = rest.substr(0, semicolon);
        rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
        platform = platform.substr(0, platform.find(':'));  // options follow a colon
        if (platform.empty()) {
            continue;
        }
        std::string reason;
        if (platform == "xcb") {
            reason = Unset(environment.display) ? messages::NoXDisplayNamed()
                                                : messages::XDisplayUnreachable(environment.display);
        } else if (platform.starts_with("wayland")) {
            const std::string display = Unset(environment.waylandDisplay) ? "wayland-0" : environment.waylandDisplay;
            if (Unset(environment.runtimeFolder) && !display.starts_with('/')) {
                reason = messages::NoWaylandRuntimeFolder();
            } else {
                // Qt's own words carry the system's reason in brackets.
                constexpr std::string_view Failed = "Failed to create wl_display (";
                std::string_view why;
                if (const std::size_t at = printed.find(Failed); at != std::string_view::npos) {
                    why = printed.substr(at + Failed.size());
                    why = why.substr(0, why.find(')'));
                }
                reason = messages::WaylandDisplayUnreachable(display, why);
            }
        } else {
            reason = messages::PlatformUnavailable(platform);
        }
        if (reasons.find(reason) == std::string::npos) {
            reasons += (reasons.empty() ? "" : "; ") + reason;
        }
    }
    return reasons.empty() ? messages::PlatformUnavailable("") : reasons;
}

std::unique_ptr<QApplication> StartApplication(int& argc, char** argv) {
    // Qt takes a scale factor of 0 or below for a real one and fails on it.
    if (const char* scale = std::getenv(ScaleFactorVariable); scale != nullptr && !PositiveNumber(scale)) {
        std::fprintf(stderr, "%s\n", messages::ScaleFactorIgnored(ScaleFactorVariable, scale).c_str());
        ::unsetenv(ScaleFactorVariable);
    }

    // While Qt tries the platforms, what it and its libraries print goes to a
    // file: when none starts, its words are read for the reason, and when
    // one does, they are passed on as they were.
    Capture start;
    start.environment = {PlatformsTried(argc, argv), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"),
                         std::getenv("XDG_RUNTIME_DIR")};
    std::fflush(stderr);
    start.file = std::tmpfile();
    start.savedError = start.file != nullptr ? ::dup(STDERR_FILENO) : -1;
    if (start.savedError >= 0) {
        ::dup2(::fileno(start.file), STDERR_FILENO);
    }
    capture = &start;
    start.previous = qInstallMessageHandler(OnStartMessage);
    auto application = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(start.previous);
    capture = nullptr;
    if (start.savedError >= 0) {
        std::fflush(stderr);
        ::dup2(start.savedError, STDERR_FILENO);
        ::close(start.savedError);
        const std::string printed = ReadAll(start.file);
        std::fwrite(printed.data(), 1, printed.size(), stderr);
    }
    if (start.file != nullptr) {
        std::fclose(start.file);
    }
    return application;
}

}  // namespace velmora
