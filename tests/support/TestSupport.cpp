#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

bool returnsWithoutAWriter(const QString& fifo, const std::function<void()>& call)
{
    std::atomic<bool> done{false};
    std::thread t([&] {
        call();
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const bool waited = !done;
    if (waited)
        ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK));
    t.join();
    return !waited;
}

int spawnChildTest(const QString& test, const QStringList& environment, const QString& log)
{
    const QByteArray self = QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget());
    const QByteArray filter = "--gtest_filter=" + test.toUtf8();
    const QByteArray alsoDisabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {const_cast<char*>(self.constData()), const_cast<char*>(filter.constData()),
                    const_cast<char*>(alsoDisabled.constData()), nullptr};
    QList<QByteArray> env;
    for (char** e = environ; *e; ++e)
        env.append(*e);
    for (const QString& e : environment)
        env.append(QFile::encodeName(e));
    std::vector<char*> envp;
    for (QByteArray& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its output would only repeat gtest's banner again and again; its errors go to a log.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const QByteArray logName = QFile::encodeName(log);
    posix_spawn_file_actions_addopen(&actions, 2, logName.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, self.constData(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void killAndReap(int pid)
{
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

} // namespace testsupport
