// The system settings the program body changes while the main window is open: whether windows
// are dragged with their full contents. Linux has no such user setting, so the implementation
// here keeps the value in memory for the life of the process.
#pragma once

namespace vellum::viewer {

class SystemSettings {
  public:
    virtual ~SystemSettings() = default;
    virtual int getDragFullWindows() const = 0;
    // The value is stored as the user's setting and made known to other programs.
    virtual void setDragFullWindows(int value) = 0;
};

class MemorySystemSettings : public SystemSettings {
  public:
    // Window managers on Linux drag windows with their contents by default.
    explicit MemorySystemSettings(int dragFullWindows = 1) : dragFullWindows_(dragFullWindows) {}

    int getDragFullWindows() const override { return dragFullWindows_; }
    void setDragFullWindows(int value) override { dragFullWindows_ = value; }

  private:
    int dragFullWindows_;
};

}  // namespace vellum::viewer
