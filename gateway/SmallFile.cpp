#include "SmallFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Varkon::QuilGateway {
namespace {

// An open file descriptor, closed at the end of its scope.
class OpenFile {
public:
    explicit OpenFile(const std::string& path) : path(path) {
        // Non-blocking, so that opening a FIFO without a writer returns at once; the type is
        // checked before anything is read.
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            throw UnreadableFile(path, std::strerror(errno));
        }
        struct stat status {};
        if (fstat(fd, &status) != 0) {
            const int error = errno;
            close(fd);
            throw UnreadableFile(path, std::strerror(error));
        }
        if (!S_ISREG(status.st_mode)) {
            close(fd);
            throw UnreadableFile(path, "not a regular file");
        }
        size = static_cast<std::size_t>(status.st_size);
    }
    ~OpenFile() { close(fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    std::string ReadAll(std::size_t maxBytes) const {
        const std::string tooLarge = "larger than " + std::to_string(maxBytes) + " bytes";
        if (size > maxBytes) {
            throw UnreadableFile(path, tooLarge);
        }
        // One byte more than allowed tells a file that grew since fstat.
        std::string content(maxBytes + 1, '\0');
        std::size_t used = 0;
        while (used < content.size()) {
            const ssize_t got = read(fd, content.data() + used, content.size() - used);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                throw UnreadableFile(path, std::strerror(errno));
            }
            if (got == 0) {
                break;
            }
            used += static_cast<std::size_t>(got);
        }
        if (used > maxBytes) {
            throw UnreadableFile(path, tooLarge);
        }
        content.resize(used);
        return content;
    }

private:
    std::string path;
    int fd = -1;
    std::size_t size = 0;
};

}  // namespace

std::string ReadSmallFile(const std::string& path, std::size_t maxBytes) {
    return OpenFile(path).ReadAll(maxBytes);
}

void CheckSmallFile(const std::string& path) {
    OpenFile{path};
}

}  // namespace Varkon::QuilGateway
