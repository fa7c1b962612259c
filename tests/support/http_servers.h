#pragma once
// Real HTTP peers on loopback for the life of an object, each on ports of its
// own, so parallel runs never meet:
//
//   WebServer web;                     // lighttpd from Debian, HTTP and HTTPS
//   if (!web.Ok()) QUILVANE_SKIP_OR_FAIL(web.Error());
//   web.Url("/hello.txt"); web.TlsUrl("/hello.txt"); web.CaFile();
//
//   FaultServer faults;                // tools/http_fault_server.py
//   faults.Url("/stall");
//
// The web server serves a private folder (Root()) with hello.txt, big.bin
// (4 MiB), private/secret.txt behind basic authentication (user "quilvane",
// password "s3cret", realm "Quilvane test"), /old redirecting to /hello.txt,
// /plain/<path> redirecting to <path> on the plain http port (from https too),
// /local/<path> redirecting to file:///<path>,
// nolength.sh, a script answered without Content-Length, and echo.sh, which
// answers "<method> <X-Quilvane header> <content type> <body>". HTTPS uses a certificate for the
// name "localhost" only (so https://127.0.0.1 fails the name check), issued by
// a certificate authority made for this object (CaFile()).
//
// Servers and folders go in the destructor, also when a test fails; the
// servers also die with the test process (parent-death signal, closed pipe).
//
// Threads: one test thread.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/skip_or_fail.h"
#include "tests/support/test_host.h"

namespace quilvane_test {

// A private folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "quilvane-http-XXXXXX").string();
        if (::mkdtemp(templ.data()))
            path_ = templ;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A child process that dies with us; stopped (TERM, then KILL after 2 s) in
// the destructor.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0)
            return;
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return;
        }
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            std::vector<char*> argv;
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~ChildProcess() {
        if (stdin_ >= 0)
            ::close(stdin_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            for (int i = 0; i < 200 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (::waitpid(pid_, nullptr, WNOHANG) == 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
        if (stdout_ >= 0)
            ::close(stdout_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    // Waits for the process to end, reading all it writes meanwhile; its exit
    // code (-1 when it did not exit normally).
    int Wait(std::string* output) {
        if (stdin_ >= 0)
            ::close(stdin_);
        stdin_ = -1;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(stdout_, buf, sizeof buf)) > 0)
            if (output)
                output->append(buf, static_cast<size_t>(n));
        int status = 0;
        const bool ended = ::waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool Alive() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    // One line of its output, waiting at most `ms`.
    std::string ReadLine(int ms) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{stdout_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char c;
            if (::read(stdout_, &c, 1) != 1)
                break;
            if (c == '\n')
                return line;
            line += c;
        }
        return line;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
};

// A loopback port that was free a moment ago.
inline int FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

inline bool PortAnswers(int port, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class WebServer {
public:
    WebServer() {
        if (folder_.Path().empty()) {
            error_ = "cannot make a temporary folder";
            return;
        }
        const std::string dir = folder_.Path();
        for (const char* tool : {"lighttpd", "openssl"}) {
            if (RunCommand({"sh", "-c",
                            std::string("command -v ") + tool + " || test -x /usr/sbin/" + tool})
                    .exitCode != 0) {
                error_ = std::string(tool) + " is not installed";
                return;
            }
        }
        std::filesystem::create_directories(dir + "/www/private");
        WriteFile(dir + "/www/hello.txt", "Hello, Quilvane!\n");
        WriteFile(dir + "/www/private/secret.txt", "the secret\n");
        std::string big(4 << 20, '\0');
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
        WriteFile(dir + "/www/big.bin", big);
        WriteFile(dir + "/www/nolength.sh",
                  // The pause makes lighttpd answer before the script ends, so it
                  // cannot know the length.
                  "printf 'Content-Type: text/plain\\r\\n\\r\\nno length '\n"
                  "sleep 0.3\nprintf 'here'\n");
        WriteFile(dir + "/www/echo.sh",
                  "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
                  "printf '%s %s %s ' \"$REQUEST_METHOD\" \"$HTTP_X_QUILVANE\" \"$CONTENT_TYPE\"\n"
                  "head -c \"${CONTENT_LENGTH:-0}\"\n");
        WriteFile(dir + "/users", "quilvane:s3cret\n");
        if (!MakeCertificates(dir))
            return;

        port_ = FreeLoopbackPort();
        tlsPort_ = FreeLoopbackPort();
        while (tlsPort_ == port_)
            tlsPort_ = FreeLoopbackPort();
        WriteFile(dir + "/lighttpd.conf",
                  "server.document-root = \"" + dir +
                      "/www\"\n"
                      "server.bind = \"127.0.0.1\"\n"
                      "server.port = " +
                      std::to_string(port_) +
                      "\n"
                      "server.errorlog = \"" +
                      dir +
                      "/error.log\"\n"
                      "server.pid-file = \"" +
                      dir +
                      "/lighttpd.pid\"\n"
                      "server.modules += (\"mod_redirect\", \"mod_auth\", \"mod_authn_file\", "
                      "\"mod_cgi\", \"mod_openssl\")\n"
                      "mimetype.assign = (\".txt\" => \"text/plain\", \"\" => "
                      "\"application/octet-stream\")\n"
                      "url.redirect = (\"^/old$\" => \"/hello.txt\", \"^/plain/(.*)$\" => "
                      "\"http://127.0.0.1:" +
                      std::to_string(port_) +
                      "/$1\", \"^/local/(.*)$\" => \"file:///$1\")\n"
                      "url.redirect-code = 302\n"
                      "cgi.assign = (\".sh\" => \"/bin/sh\")\n"
                      "server.stream-response-body = 2\n"
                      "auth.backend = \"plain\"\n"
                      "auth.backend.plain.userfile = \"" +
                      dir +
                      "/users\"\n"
                      "auth.require = (\"/private/\" => (\"method\" => \"basic\", \"realm\" => "
                      "\"Quilvane test\", \"require\" => \"valid-user\"))\n"
                      "$SERVER[\"socket\"] == \"127.0.0.1:" +
                      std::to_string(tlsPort_) +
                      "\" {\n"
                      "  ssl.engine = \"enable\"\n"
                      "  ssl.pemfile = \"" +
                      dir +
                      "/server.pem\"\n"
                      "  ssl.privkey = \"" +
                      dir +
                      "/server.key\"\n"
                      "}\n");
        const std::string lighttpd =
            std::filesystem::exists("/usr/sbin/lighttpd") ? "/usr/sbin/lighttpd" : "lighttpd";
        server_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{lighttpd, "-D", "-f", dir + "/lighttpd.conf"});
        if (!server_->Started() || !PortAnswers(port_, 5000) || !PortAnswers(tlsPort_, 5000)) {
            std::ifstream log(dir + "/error.log");
            std::string text((std::istreambuf_iterator<char>(log)), {});
            error_ = "lighttpd did not start: " + text;
            server_.reset();
        }
    }

    bool Ok() const { return server_ != nullptr; }
    const std::string& Error() const { return error_; }
    std::string Root() const { return folder_.Path() + "/www"; }
    std::string CaFile() const { return folder_.Path() + "/ca.pem"; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string TlsUrl(const std::string& path, const std::string& host = "localhost") const {
        return "https://" + host + ":" + std::to_string(tlsPort_) + path;
    }
    int Port() const { return port_; }

private:
    bool MakeCertificates(const std::string& dir) {
        const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        const std::string script =
            "set -e; cd '" + dir +
            "'; "
            "openssl req -x509 " +
            ec +
            "-keyout ca.key -out ca.pem -days 2 "
            "-subj '/CN=Quilvane test authority' 2>/dev/null; "
            "openssl req " +
            ec +
            "-keyout server.key -out server.csr -subj '/CN=localhost' "
            "2>/dev/null; "
            "printf 'subjectAltName=DNS:localhost\\nbasicConstraints=CA:FALSE\\n' > "
            "ext.cnf; "
            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
            "-out server.pem -days 2 -extfile ext.cnf 2>/dev/null";
        const auto r = RunCommand({"sh", "-c", script});
        if (r.exitCode != 0)
            error_ = "cannot make certificates: " + r.output;
        return r.exitCode == 0;
    }

    TempFolder folder_;
    std::unique_ptr<ChildProcess> server_;
    int port_ = 0;
    int tlsPort_ = 0;
    std::string error_;
};

class FaultServer {
public:
    FaultServer() {
        const std::string script = SourceDir() + "/tools/http_fault_server.py";
        server_ = std::make_unique<ChildProcess>(std::vector<std::string>{"python3", script});
        const std::string line = server_->Started() ? server_->ReadLine(5000) : "";
        if (line.rfind("PORT ", 0) != 0) {
            error_ = "the scripted server (python3 " + script + ") did not start";
            server_.reset();
            return;
        }
        port_ = std::atoi(line.c_str() + 5);
    }
    bool Ok() const { return server_ != nullptr; }
    const std::string& Error() const { return error_; }
    int Port() const { return port_; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    std::unique_ptr<ChildProcess> server_;
    int port_ = 0;
    std::string error_;
};

}  // namespace quilvane_test
