// Test support for what a full disk does to a writer: a folder on a small
// file system of its own (a tmpfs in a private mount namespace of the test
// process) that can be filled to the last byte and emptied again. Needs root.
#pragma once

#include <cstddef>
#include <string>

namespace vx::test {

class full_disk {
public:
    // Mounts a tmpfs of `bytes` on `folder` (made when missing, and then
    // removed with the mount). The first one moves the process into a mount
    // namespace of its own, so the mount is seen by no other process and goes
    // with the test; construct it on the main thread, before the threads that
    // must see it are started.
    explicit full_disk(const std::string& folder, size_t bytes = size_t(1) << 20);
    ~full_disk();
    full_disk(const full_disk&) = delete;
    full_disk& operator=(const full_disk&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& folder() const { return folder_; } // without a trailing '/'

    // Takes every free byte but `room` (rounded up to whole pages): from then
    // on no write that needs more succeeds (the files already there stay as
    // they are), while a smaller one still does.
    void fill(size_t room = 0);
    // Gives back what fill() took.
    void make_room();
    // Makes the file system read-only (every write fails with EROFS), or
    // writable again; false with errno when it cannot be remounted.
    bool read_only(bool on);

private:
    std::string folder_, error_;
    bool mounted_ = false;
    bool made_ = false;
};

} // namespace vx::test
