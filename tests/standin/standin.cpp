// The stand-in for every tool the tests run: it does what its arguments say,
// in order, so that a test states a tool's behaviour in one line and waits
// on a fifo or a signal instead of sleeping. Arguments after "--" are the
// tool's own, as the app passed them.
//
//   record=FILE   write the count of the tool's arguments, the arguments, the
//                 working folder and the environment to FILE, each ended by
//                 a NUL (read by FakeHome::record)
//   pid=FILE      write this process's pid to FILE
//   out=TEXT      write TEXT to standard output (\n \t \e \\ \xHH decoded)
//   err=TEXT      the same to standard error
//   args          write the tool's arguments to standard output, one line
//   cat=FILE      copy FILE to standard output
//   write=NAME:TEXT  write TEXT (decoded as for out=) to the file NAME, relative
//                 to the working folder, as an agent editing files does
//   flood=TEXT    write TEXT to standard output until that fails
//   out-to-err    standard output goes to standard error from here on
//   err-to-out    standard error goes to standard output from here on
//   wait=FIFO     block until the test opens FIFO for writing
//   ignore-term   ignore SIGTERM from here on
//   setsid        leave the tool's process group for a session of its own
//   pause         wait until a signal ends the process
//   kill=N        die by signal N (its default action)
//   { ... }       fork a child that does the steps in between, then exits
//                 (no nesting)
//   exit=N        exit with code N (0 after the last step)

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::vector<std::string> toolArgs;

std::string decode(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'x') {
            out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'e' ? '\x1b' : c;
        }
    }
    return out;
}

bool writeAll(int fd, const std::string& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Written beside the target and renamed over it, so a reader never sees half.
void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path + ".part", std::ios::binary) << content;
    std::rename((path + ".part").c_str(), path.c_str());
}

std::string record()
{
    std::string out = std::to_string(toolArgs.size()) + '\0';
    for (const std::string& arg : toolArgs)
        out += arg + '\0';
    char cwd[4096] = "";
    out += std::string(::getcwd(cwd, sizeof cwd) ? cwd : "") + '\0';
    for (char** e = environ; *e; ++e)
        out += std::string(*e) + '\0';
    return out;
}

void run(const std::vector<std::string>& steps, size_t begin, size_t end)
{
    for (size_t i = begin; i < end; ++i) {
        const std::string& step = steps[i];
        const size_t eq = step.find('=');
        const std::string name = step.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : step.substr(eq + 1);
        if (name == "record") {
            writeFile(value, record());
        } else if (name == "pid") {
            writeFile(value, std::to_string(::getpid()) + "\n");
        } else if (name == "out" || name == "err") {
            writeAll(name == "out" ? 1 : 2, decode(value));
        } else if (name == "args") {
            std::string line;
            for (const std::string& arg : toolArgs)
                line += (line.empty() ? "" : " ") + arg;
            writeAll(1, line + "\n");
        } else if (name == "cat") {
            std::stringstream content;
            content << std::ifstream(value, std::ios::binary).rdbuf();
            writeAll(1, content.str());
        } else if (name == "write") {
            const size_t colon = value.find(':');
            writeFile(value.substr(0, colon),
                      colon == std::string::npos ? "" : decode(value.substr(colon + 1)));
        } else if (name == "flood") {
            while (writeAll(1, decode(value))) {
            }
        } else if (name == "out-to-err" || name == "err-to-out") {
            // This process then holds one of the two pipes only.
            ::dup2(name == "out-to-err" ? 2 : 1, name == "out-to-err" ? 1 : 2);
        } else if (name == "wait") {
            const int fd = ::open(value.c_str(), O_RDONLY);
            char byte;
            while (fd >= 0 && ::read(fd, &byte, 1) > 0) {
            }
            // Held open, it would let the next release of this fifo pass
            // before a later wait on it has begun.
            if (fd >= 0)
                ::close(fd);
        } else if (name == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (name == "setsid") {
            ::setsid();
        } else if (name == "pause") {
            for (;;)
                ::pause();
        } else if (name == "kill") {
            // Dies by the signal even where a sanitizer handles it (SIGSEGV).
            const int signal = std::atoi(value.c_str());
            std::signal(signal, SIG_DFL);
            std::raise(signal);
        } else if (name == "{") {
            size_t close = i;
            while (close < end && steps[close] != "}")
                ++close;
            if (::fork() == 0) {
                run(steps, i + 1, close);
                std::exit(0);
            }
            i = close;
        } else if (name == "exit") {
            std::exit(std::atoi(value.c_str()));
        } else {
            writeAll(2, "standin: unknown step " + step + "\n");
            std::exit(100);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> steps;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        steps.emplace_back(argv[i]);
    for (++i; i < argc; ++i)
        toolArgs.emplace_back(argv[i]);
    run(steps, 0, steps.size());
    return 0;
}
