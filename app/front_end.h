// What the program asks of the window toolkit. A front end (the Qt windows,
// the Win32 windows, a test's recorder) implements it and turns the
// program's requests into what its toolkit shows; it decides nothing itself.
// Every call comes on the thread that runs the windows, except Wake.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

class BackgroundJob;

// The text of a progress window: its title and what it says.
struct ProgressText {
    std::string title;
    std::string text;
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // The form.

    // The whole text of field id as UTF-8; empty if there is no such field.
    [[nodiscard]] virtual std::string GetFieldText(int id) const = 0;
    // Inserts text into field id at its cursor, as typing would.
    virtual void InsertFieldText(int id, std::string_view text) = 0;
    // Shows the wait cursor over the program's windows, or takes it down.
    virtual void SetWaitCursor(bool shown) = 0;
    // A message box on the form captioned "Warning!", with the warning or the
    // information icon; returns once the user has closed it.
    virtual void ShowWarning(std::string_view text) = 0;
    virtual void ShowInformation(std::string_view text) = 0;
    // fileName as a message box can show it: a name too wide for the box is
    // cut in the middle, so that its folder and its end still show.
    [[nodiscard]] virtual std::string ShownFileName(std::string_view fileName) const = 0;
    // Runs the toolkit's event loop until job has Finished: every window
    // repaints, input to the form and the picture window is dropped (not
    // kept for later), and Escape asks the job to stop. Once the job has
    // run for ProgressDelay, a progress window opens on the form, without
    // taking the keyboard from it, with progress's text, the job's share done
    // and a Cancel button; Cancel and its close box ask the job to stop.
    // Returns false when the toolkit ran out of memory meanwhile (for the
    // progress window, say): it then asked the job to stop and waited for it.
    [[nodiscard]] virtual bool WaitFor(BackgroundJob& job, const ProgressText& progress) = 0;
    // From any thread: a job has finished, so a WaitFor under way should
    // look at it again.
    virtual void Wake() noexcept = 0;
    // Closes the form as its close box would; the program then ends with 0.
    virtual void CloseForm() = 0;

    // The picture window.

    // Creates the picture window, hidden, owned by the form; false if it
    // cannot be created.
    [[nodiscard]] virtual bool OpenPictureWindow() = 0;
    virtual void ShowPictureWindow() = 0;
    // Remembers the window's place, size and scroll position, so that they
    // can be put back after a Generate that made no map.
    virtual void KeepPicturePlacement() = 0;
    virtual void RestorePicturePlacement() = 0;
    // Moves the window's frame to (200, 10) on the screen, sizes its client
    // area for a width x height map, puts it behind the other windows and
    // shows it.
    virtual void ResizePictureWindow(std::int32_t width, std::int32_t height) = 0;
    // Draws the state's current map into the window now.
    virtual void ShowPicture() = 0;
    // Closes the picture window for good.
    virtual void ClosePictureWindow() = 0;
};

}  // namespace velmora
