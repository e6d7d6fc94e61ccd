#include "FuzzTarget.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

std::map<std::string, fuzz::Entry>& registry()
{
    static std::map<std::string, fuzz::Entry> targets;
    return targets;
}

fuzz::Entry chosen = nullptr;

// The code under test logs its refusals; millions of inputs would drown the
// fuzzer's own output. PRAVIK_FUZZ_VERBOSE=1 keeps them.
void quiet(QtMsgType, const QMessageLogContext&, const QString&)
{
}

constexpr char kPrefix[] = "fuzz_";

} // namespace

namespace fuzz {

Registration::Registration(const char* name, Entry entry)
{
    registry()[name] = entry;
}

void fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::fputs("fuzz: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

QString scratchDir()
{
    static const std::unique_ptr<QTemporaryDir> dir = [] {
        const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                                : QDir::tempPath();
        return std::make_unique<QTemporaryDir>(base + QStringLiteral("/pravik-fuzz-XXXXXX"));
    }();
    if (!dir->isValid())
        fail("cannot make a scratch folder");
    return dir->path();
}

} // namespace fuzz

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    const std::string program = QFileInfo(QString::fromLocal8Bit((*argv)[0])).fileName().toStdString();
    const std::string name
        = program.rfind(kPrefix, 0) == 0 ? program.substr(std::strlen(kPrefix)) : std::string();
    const auto found = registry().find(name);
    if (found == registry().end()) {
        std::fprintf(stderr, "%s: start this binary as fuzz_<target>; its targets:", program.c_str());
        for (const auto& [target, entry] : registry())
            std::fprintf(stderr, " %s", target.c_str());
        std::fputc('\n', stderr);
        std::exit(2);
    }
    chosen = found->second;
    // Whatever the code under test stores goes to the scratch folder, never
    // to the user's own settings and data.
    qputenv("PRAVIK_HOME", fuzz::scratchDir().toLocal8Bit());
    if (qEnvironmentVariableIntValue("PRAVIK_FUZZ_VERBOSE") == 0)
        qInstallMessageHandler(quiet);
    // Main-thread services (queues, sockets) need an application object.
    new QCoreApplication(*argc, *argv);
    // libFuzzer ends a timed run with exit(), so the background queues are
    // stopped by an exit hook, which runs only after the static objects made
    // later than it are destroyed. Qt makes its calendar tables on first use;
    // made here, before any queue registers its hook, they outlive the
    // queues' last save of dates (the settings' time stamps) instead of
    // vanishing under it.
    (void)QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy that owns its bytes, so the code under test sees an ordinary array.
    chosen(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
