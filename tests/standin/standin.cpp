// The stand-in for every tool the tests run: it does what its arguments say,
// in order, so that a test states a tool's behaviour in one line and waits
// for it on a fifo or a signal instead of a sleep. Arguments after "--" are
// the tool's own (what the app passed) and are only recorded.
//
//   record=FILE   write argv (after --), the working folder and the
//                 environment to FILE, NUL-separated (see testsupport.h)
//   pid=FILE      write this process's pid to FILE
//   out=TEXT      write TEXT to standard output (\n \t \e \\ \xHH decoded)
//   err=TEXT      the same to standard error
//   flood=TEXT    write TEXT to standard output until that fails
//   wait=FIFO     block until the test writes to FIFO or closes it
//   ignore-term   ignore SIGTERM from here on
//   pause         wait for signals until one ends the process
//   { ... }       spawn a child that does the steps in between, then exits
//   exit=N        exit with code N (0 after the last step)

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::string decode(const char* text)
{
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p != '\\' || !p[1]) {
            out += *p;
            continue;
        }
        switch (*++p) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'e':
            out += '\x1b';
            break;
        case '0':
            out += '\0';
            break;
        case 'x': {
            const char hex[3] = {p[1], p[1] ? p[2] : '\0', '\0'};
            out += char(std::strtol(hex, nullptr, 16));
            p += 2;
            break;
        }
        default:
            out += *p;
        }
    }
    return out;
}

bool writeAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Written beside the target and renamed over it, so a reader never sees half.
void writeFile(const std::string& path, const std::string& content)
{
    const std::string temporary = path + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        std::exit(100);
    writeAll(fd, content);
    ::close(fd);
    ::rename(temporary.c_str(), path.c_str());
}

std::string record(const std::vector<const char*>& toolArgs)
{
    std::string out = "argv";
    out += '\0';
    for (const char* arg : toolArgs)
        out += std::string(arg) + '\0';
    char cwd[4096] = "";
    if (!::getcwd(cwd, sizeof cwd))
        cwd[0] = '\0';
    out += std::string(1, '\0') + "cwd" + '\0' + cwd + '\0' + '\0' + "env" + '\0';
    for (char** e = environ; *e; ++e)
        out += std::string(*e) + '\0';
    return out;
}

void waitOn(const char* fifo)
{
    const int fd = ::open(fifo, O_RDONLY);
    char byte;
    while (fd >= 0 && ::read(fd, &byte, 1) < 0 && errno == EINTR) {
    }
    if (fd >= 0)
        ::close(fd);
}

// Runs steps [begin, end) and returns where it stopped.
void run(const std::vector<const char*>& steps, size_t begin, size_t end,
         const std::vector<const char*>& toolArgs);

size_t matchingBrace(const std::vector<const char*>& steps, size_t open, size_t end)
{
    int depth = 0;
    for (size_t i = open; i < end; ++i) {
        depth += std::strcmp(steps[i], "{") == 0;
        depth -= std::strcmp(steps[i], "}") == 0;
        if (depth == 0)
            return i;
    }
    std::exit(101);
}

void run(const std::vector<const char*>& steps, size_t begin, size_t end,
         const std::vector<const char*>& toolArgs)
{
    for (size_t i = begin; i < end; ++i) {
        const std::string step = steps[i];
        const size_t eq = step.find('=');
        const std::string name = step.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : step.substr(eq + 1);
        if (name == "record") {
            writeFile(value, record(toolArgs));
        } else if (name == "pid") {
            writeFile(value, std::to_string(::getpid()) + "\n");
        } else if (name == "out" || name == "err") {
            if (!writeAll(name == "out" ? 1 : 2, decode(value.c_str())))
                std::exit(102);
        } else if (name == "flood") {
            const std::string text = decode(value.c_str());
            while (writeAll(1, text)) {
            }
        } else if (name == "wait") {
            waitOn(value.c_str());
        } else if (name == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (name == "pause") {
            for (;;)
                ::pause();
        } else if (name == "{") {
            const size_t close = matchingBrace(steps, i, end);
            const pid_t child = ::fork();
            if (child == 0) {
                run(steps, i + 1, close, toolArgs);
                ::_exit(0);
            }
            i = close;
        } else if (name == "exit") {
            std::exit(std::atoi(value.c_str()));
        } else {
            std::fprintf(stderr, "standin: unknown step %s\n", step.c_str());
            std::exit(103);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<const char*> steps;
    std::vector<const char*> toolArgs;
    bool own = false;
    for (int i = 1; i < argc; ++i) {
        if (!own && std::strcmp(argv[i], "--") == 0)
            own = true;
        else
            (own ? toolArgs : steps).push_back(argv[i]);
    }
    run(steps, 0, steps.size(), toolArgs);
    return 0;
}
