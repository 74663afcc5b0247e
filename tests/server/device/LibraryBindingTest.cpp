// Loading and binding the device libraries: search order, error texts, and freeing.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "server/device/SharedLibrary.h"
#include "server/device/VexEnc7480.h"
#include "server/device/VexSimulator.h"
#include "tests/server/device/FakeEnc7480.h"
#include "tests/server/device/FakeLibrary.h"
#include "tests/server/device/FakeVexSimulator.h"

namespace {

// Sets LD_LIBRARY_PATH for one scope and restores it.
class ScopedLibraryPath {
  public:
    explicit ScopedLibraryPath(const QString& value) {
        if (const char* old = std::getenv("LD_LIBRARY_PATH"))
            old_ = old;
        setenv("LD_LIBRARY_PATH", value.toLocal8Bit().constData(), 1);
    }
    ~ScopedLibraryPath() {
        if (old_)
            setenv("LD_LIBRARY_PATH", old_->c_str(), 1);
        else
            unsetenv("LD_LIBRARY_PATH");
    }

  private:
    std::optional<std::string> old_;
};

QString ProgramDirectory() {
    return QString::fromStdString(
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
}

QString Canonical(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

TEST(SharedLibraryTest, MapsVendorNamesToPlatformFileNames) {
    struct Row {
        const char* legend;
        const char* name;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {"card library", "ENC7480.DLL", "libENC7480.so"},
        {"simulator library, lower-case suffix", "VexSimulator.dll", "libVexSimulator.so"},
        {"mixed-case suffix", "Card.Dll", "libCard.so"},
        {"already a platform name", "libENC7480.so", "libENC7480.so"},
        {"a path is taken as given", "drivers/ENC7480.DLL", "drivers/ENC7480.DLL"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        EXPECT_EQ(SharedLibrary::PlatformFileName(QString::fromLatin1(row.name)),
                  QString::fromLatin1(row.expected));
    }
}

// Where a bare name is found, as the device reports the file it loaded (the start-up line
// shows it). The test program, like VexServer in the build tree, carries its own folder as
// RUNPATH; an installed VexServer carries none and so never looks beside itself.
TEST(SharedLibraryTest, SearchesLibraryPathThenTheProgramsRunpath) {
    QTemporaryDir withCopy, empty;
    ASSERT_TRUE(withCopy.isValid() && empty.isValid());
    const QString inProgramDir = QDir(ProgramDirectory()).filePath("libFakeEnc7480.so");
    const QString copy = withCopy.filePath(QStringLiteral("libFakeEnc7480.so"));
    ASSERT_TRUE(QFile::copy(inProgramDir, copy));

    struct Row {
        const char* legend;
        QString libraryPath;
        QString name;
        QString loaded;
    };
    const std::vector<Row> rows = {
        {"library path comes before the program's RUNPATH", withCopy.path(), "FakeEnc7480.DLL",
         copy},
        {"a later library path entry is searched too", empty.path() + ":" + withCopy.path(),
         "FakeEnc7480.dll", copy},
        {"the RUNPATH when the library path lacks the file", empty.path(), "FakeEnc7480.DLL",
         inProgramDir},
        {"a path is used as given", empty.path(), copy, copy},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        ScopedLibraryPath path(row.libraryPath);
        VexEnc7480 card;
        EXPECT_TRUE(card.LibraryPath().isEmpty());
        ASSERT_NO_THROW(card.Open(row.name));
        EXPECT_EQ(card.LibraryPath(), Canonical(row.loaded));
    }
}

// Opens `library` on a fresh device of the given kind and returns the thrown text.
QString OpenError(bool card, const QString& library) {
    try {
        if (card)
            VexEnc7480().Open(library);
        else
            VexSimulator().Open(library);
    } catch (const QString& error) {
        return error;
    }
    return QStringLiteral("<no error>");
}

TEST(LibraryBindingTest, FailuresNameTheLibraryOrEntryPointAfterALineBreak) {
    struct Row {
        const char* legend;
        bool card;
        const char* library;
        const char* lastLine;
    };
    const std::vector<Row> rows = {
        {"missing library: the name as given", true, "NoSuchCard.DLL", "NoSuchCard.DLL"},
        {"missing library given as a path", false, "/nonexistent/libSim.so",
         "/nonexistent/libSim.so"},
        {"card library lacking entry points: the first missing one in order", true,
         "FakeEnc7480Partial.DLL", "Enc7480_Read_InPort"},
        {"a card library is no simulator library", false, "FakeEnc7480.DLL", "Init"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const QString error = OpenError(row.card, QString::fromLatin1(row.library));
        const qsizetype lineBreak = error.lastIndexOf(u'\n');
        ASSERT_GT(lineBreak, 0) << error.toStdString();
        EXPECT_LE(lineBreak, 200) << "the system message is at most 200 characters";
        EXPECT_EQ(error.mid(lineBreak + 1), QString::fromLatin1(row.lastLine));
    }
}

TEST(LibraryBindingTest, PartlyBoundLibraryIsDroppedAndNeverCalled) {
    VexEnc7480 card;
    EXPECT_THROW(card.Open(QStringLiteral("FakeEnc7480Partial.DLL")), QString);
    EXPECT_FALSE(IsLoaded("FakeEnc7480Partial.DLL"));
    EXPECT_EQ(card.Init(false), 0);
}

template <typename Device, typename State>
void ExpectSecondOpenFreesTheFirstLibrary(const char* library, const char* stateFunction,
                                          const std::function<int&(State*)>& marker) {
    {
        Device device;
        device.Open(QString::fromLatin1(library));
        State* first = LoadedState<State>(library, stateFunction);
        ASSERT_NE(first, nullptr);
        marker(first) = 77;
        device.Open(QString::fromLatin1(library));
        // Had the first copy still been loaded, the second Open would have shared it.
        State* second = LoadedState<State>(library, stateFunction);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(marker(second), 77) << "the first library was not freed before loading";
    }
    EXPECT_FALSE(IsLoaded(library)) << "destroying the device frees its library";
}

TEST(LibraryBindingTest, SecondOpenFreesTheFirstLibrary) {
    {
        SCOPED_TRACE("card");
        ExpectSecondOpenFreesTheFirstLibrary<VexEnc7480, FakeEnc7480State>(
            "FakeEnc7480.DLL", "FakeEnc7480_State",
            [](FakeEnc7480State* s) -> int& { return s->init_result; });
    }
    {
        SCOPED_TRACE("simulator");
        ExpectSecondOpenFreesTheFirstLibrary<VexSimulator, FakeVexSimulatorState>(
            "FakeVexSimulator.DLL", "FakeVexSimulator_State",
            [](FakeVexSimulatorState* s) -> int& { return s->init_result; });
    }
}

}  // namespace
