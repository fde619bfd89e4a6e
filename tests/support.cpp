#include "support.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

#include "program_list.hpp"

extern char** environ;

namespace testing_support {

ScratchDir::ScratchDir() {
    std::string templ = (fs::temp_directory_path() / "rawframes-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void write_file(const std::string& path, const std::string& bytes) {
    write_file(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<std::uint8_t> le16_bytes(const std::vector<std::uint16_t>& samples) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (std::uint16_t s : samples) {
        bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(s >> 8));
    }
    return bytes;
}

std::vector<std::uint16_t> le16_samples(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return samples;
}

std::vector<std::uint16_t> rgb16_frame(std::size_t n, std::uint16_t r, std::uint16_t g,
                                       std::uint16_t b) {
    std::vector<std::uint16_t> f(3 * n);
    std::fill(f.begin(), f.begin() + n, r);
    std::fill(f.begin() + n, f.begin() + 2 * n, g);
    std::fill(f.begin() + 2 * n, f.end(), b);
    return f;
}

namespace {
std::string slurp_and_remove(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string s{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ::unlink(path.c_str());
    return s;
}
}  // namespace

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::function<void()>& while_running, const Launch& launch) {
    static int counter = 0;
    const std::string base =
        (fs::temp_directory_path() /
         ("rawframes-run-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
            .string();
    const std::string out_path = base + ".out", err_path = base + ".err";

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The feeding end of a standard-input pipe must not see SIGPIPE when the
    // program stops reading early.
    ::signal(SIGPIPE, SIG_IGN);
    int feed[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (launch.stdin_bytes) {
        if (::pipe2(feed, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_adddup2(&actions, feed[0], 0);
    } else {
        const std::string in = launch.stdin_file.empty() ? "/dev/null" : launch.stdin_file;
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(
        &actions, 1, launch.stdout_file.empty() ? out_path.c_str() : launch.stdout_file.c_str(),
        O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (launch.close_stdin_and_stderr) {
        posix_spawn_file_actions_addclose(&actions, 0);
        posix_spawn_file_actions_addclose(&actions, 2);
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (!launch.ignore_sigpipe) {
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    }
    std::vector<char*> env;
    for (const auto& e : launch.environment) env.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    env.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (feed[0] >= 0) ::close(feed[0]);
    if (rc != 0) throw std::runtime_error("cannot start " + program);
    std::thread feeder;
    if (launch.stdin_bytes) {
        feeder = std::thread([&] {
            const std::string& bytes = *launch.stdin_bytes;
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n = ::write(feed[1], bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::close(feed[1]);
        });
    }
    if (while_running) while_running();
    int wstatus = 0;
    struct rusage usage {};
    ::wait4(pid, &wstatus, 0, &usage);
    if (feeder.joinable()) feeder.join();

    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = slurp_and_remove(out_path);
    r.err = slurp_and_remove(err_path);
    r.max_rss_kib = usage.ru_maxrss;
    return r;
}

bool file_size_allowed(std::uint64_t bytes) {
    struct rlimit limit {};
    return ::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           limit.rlim_cur >= bytes;
}

std::string program_path(const std::string& name) {
    for (const rawframes::ProgramEntry& p : rawframes::program_list())
        if (name == p.name) return p.path;
    throw std::runtime_error("no program " + name);
}

std::string rgb10_to_yuv10() {
    return program_path("rgb10-to-yuv10");
}
std::string yuv10_to_rgb10() {
    return program_path("yuv10-to-rgb10");
}
std::string frame_snr() {
    return program_path("frame-snr");
}
std::string dovrak() {
    return program_path("dovrak");
}
std::string yuv420_to_rgb() {
    return program_path("yuv420-to-rgb");
}

}  // namespace testing_support
