// The program's logic, whatever the window toolkit: the form's start, its
// commands and its close. The window layer hands every event of the form
// here and shows what the program asks of it through FrontEnd.
#pragma once

#include <cstdint>
#include <string>

#include "app/background_job.h"
#include "app/descriptor_reserve.h"
#include "app/front_end.h"

namespace velmora {

struct AppState;
class OctaveNoise;

class Program {
public:
    // state and noise live as long as the program; ui is the form's window.
    Program(AppState& state, OctaveNoise& noise, FrontEnd& ui, JobServices services = {});

    // The form has been built: makes the off-screen surface, fills the
    // fields with their start texts, resets the switches and opens the
    // picture window, which gets a surface of its own. When the picture
    // window cannot be made, says so and goes on without it.
    void Start();

    // A command of the form's control id: the two boxes flip their switch,
    // Generate and Save run; any other id does nothing.
    void OnCommand(int id);

    // The Generate command: reads the form, sets the noise parameters,
    // renders a new map in the background and shows it. A size that cannot
    // make a map, or a map for which memory or a thread cannot be had, is
    // refused with a warning, keeping the previous map, its size and the
    // picture window's placement; so does a Cancel, silently. Returns once
    // the map is shown or kept. Does nothing while a command runs.
    void GenerateMap();

    // The Save command: once a map exists, writes it in the background under
    // the name in the file-name field; a failure is warned of, a Cancel is
    // not. Does nothing before the first map or while a command runs.
    void SaveMap();

    // The form's close box. True when the program may end now, with the
    // picture window closed and the map released. While a command runs,
    // asks it to stop and returns false; the form is closed once the
    // command has returned.
    [[nodiscard]] bool RequestClose();

    // Whether a command's background work runs.
    [[nodiscard]] bool Busy() const noexcept { return job_ != nullptr; }

private:
    enum class JobEnd {
        Completed,  // the job ran to its end
        Stopped,    // a stop was asked for while it ran
        NoMemory,   // no thread, or the toolkit or the job ran out of memory
    };
    enum class Made { Map, Cancelled, TooLarge, NoMemory };

    [[nodiscard]] JobEnd RunJob(BackgroundJob& job, const ProgressText& progress);
    // Steps 2 to 9 of Generate; the warning to show, empty if none.
    [[nodiscard]] std::string MakeMap();
    // Reads the noise parameters, renders a width x height map and makes it
    // the current one.
    [[nodiscard]] Made RenderNewMap(std::int32_t width, std::int32_t height);
    // What a command does once it has returned: the close that came during
    // it, or its warning.
    void Finish(const std::string& warning);

    AppState& state_;
    OctaveNoise& noise_;
    FrontEnd& ui_;
    JobServices services_;
    BackgroundJob* job_ = nullptr;  // the running command's, if any
    bool closeRequested_ = false;   // a close came while a command ran
    DescriptorReserve descriptors_;  // given up while a warning shows
};

}  // namespace velmora
