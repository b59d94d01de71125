#pragma once

// Going to the background as NUT's drivers do, so that upsdrvctl (which
// waits for the driver it started to end) goes on once the driver serves,
// and learns whether it could start: the process forks at once, the child
// starts in a session of its own, and the parent waits until the child says
// it is ready (the parent then ends with status 0) or ends (the parent then
// ends with the child's status). Until it is ready the child writes to the
// caller's standard error, so a refusal is seen where the driver was started.
namespace driver_mode {

class Background {
public:
    // Forks; only the child returns. Throws std::runtime_error when the
    // process cannot fork. Called before any thread starts.
    static Background Start();

    Background(Background&& other) noexcept : ready_(other.ready_) { other.ready_ = -1; }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    ~Background();

    // The driver serves: the parent ends with status 0, and standard input,
    // output and error go to /dev/null.
    void Ready();

private:
    explicit Background(int ready) : ready_(ready) {}

    int ready_ = -1;  // the pipe to the waiting parent
};

}  // namespace driver_mode
