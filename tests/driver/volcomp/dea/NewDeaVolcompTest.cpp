// Method 12: loading the DEA correction library (older and newer forms, missing library or
// entry points), the calls it receives and their order, the accumulated report text, the
// log lines, and the direction codes of COMPENSA. The stand-in libraries record every call.
// Also the loader's mapping of library names to files and its search order.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <filesystem>
#include <string>

#include "driver/volcomp/VolcompStrings.h"
#include "driver/volcomp/dea/LibraryLoader.h"
#include "driver/volcomp/dea/NewDeaVolcomp.h"
#include "host/QlnServices.h"
#include "tests/driver/volcomp/VolcompTestSupport.h"
#include "tests/driver/volcomp/dea/DeaStandIn.h"

using namespace volcomptest;

namespace {

constexpr double kTol = 1e-12;
const QString kStandInDir = QStringLiteral(DEA_STANDIN_DIR);
const QString kInitOnlyDir = kStandInDir + "/init-only";

// Sets LD_LIBRARY_PATH for one scope (the loader reads it on every load).
class ScopedLibraryPath {
  public:
    explicit ScopedLibraryPath(const QString& path) {
        if (const char* old = getenv("LD_LIBRARY_PATH"))
            old_ = old, hadOld_ = true;
        setenv("LD_LIBRARY_PATH", path.toLocal8Bit().constData(), 1);
    }
    ~ScopedLibraryPath() {
        if (hadOld_)
            setenv("LD_LIBRARY_PATH", old_.c_str(), 1);
        else
            unsetenv("LD_LIBRARY_PATH");
    }

  private:
    std::string old_;
    bool hadOld_ = false;
};

// The test's own view of one stand-in library: the same loaded instance the method gets.
class StandIn {
  public:
    explicit StandIn(const QString& file) {
        handle_ = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
        if (handle_) {
            journal_ = reinterpret_cast<DeaStandInJournalFn>(dlsym(handle_, "DeaStandInJournal"));
            reset_ = reinterpret_cast<DeaStandInResetFn>(dlsym(handle_, "DeaStandInReset"));
        }
    }
    bool Ok() const { return journal_ && reset_; }
    void Reset(int initResult, int modeResult) const { reset_(initResult, modeResult); }
    std::string Journal() const { return journal_(); }

  private:
    void* handle_ = nullptr;
    DeaStandInJournalFn journal_ = nullptr;
    DeaStandInResetFn reset_ = nullptr;
};

const StandIn& OldLibrary() {
    static const StandIn lib(kStandInDir + "/libwcompens32.so");
    return lib;
}
const StandIn& NewLibrary() {
    static const StandIn lib(kStandInDir + "/libwcompens32_2.so");
    return lib;
}
const StandIn& InitOnlyLibrary() {
    static const StandIn lib(kInitOnlyDir + "/libwcompens32_2.so");
    return lib;
}

std::wstring Host2252() {
    return QlnLoadString(kMsgCompNotLoaded);
}

class NewDeaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetHost();
        app.machineName = L"Mill";
        app.hostIface = &iface;
        ASSERT_TRUE(OldLibrary().Ok() && NewLibrary().Ok() && InitOnlyLibrary().Ok())
            << "stand-in libraries not built in " << kStandInDir.toStdString();
        for (const StandIn* lib : {&OldLibrary(), &NewLibrary(), &InitOnlyLibrary()})
            lib->Reset(0, 0);
    }

    std::vector<std::wstring> BoxTexts() const {
        std::vector<std::wstring> texts;
        for (const HostEvent& e : QlnRecorder().eventsOf(HostEventKind::MessageBox))
            texts.push_back(e.id ? QlnLoadString(unsigned(e.id)) : e.text);
        return texts;
    }

    CQLNapplication app;
    CQLNhostInterface iface;
};

enum class Lib { kStandIns, kInitOnly, kNone };

TEST_F(NewDeaTest, LoadingAndInitialisingTheLibrary) {
    struct Row {
        const char* legend;
        Lib folder;
        bool old;
        int arm2;
        const wchar_t* fileName;
        int initResult;
        int modeResult;
        int result;
        std::string journal;   // calls the selected library received
        std::wstring boxText;  // empty: no message box
        std::vector<std::string> logLines;
    };
    const std::wstring h = Host2252();
    const Row rows[] = {
        {"newer library: InitCompens gets 0, the name and arm 1, then the mode",
         Lib::kStandIns,
         false,
         0,
         L"dea.cmp",
         0,
         0,
         0,
         "InitCompens(0, \"dea.cmp\", 1)\nSetCompensMode(3, 0 0 0)\n",
         L"",
         {"CMM=Mill loaded new dea comp dll (wcompens32_2.dll), looking for subs in dll\n",
          "CMM=Mill DEA WCOMPENS32 compensation file name=dea.cmp , Arm number=1\n",
          "CMM=Mill DEA InitCompens (newer format) results=0\n",
          "CMM=Mill DEA SetCompensMode  WCompensMode=3  results=0\n"}},
        {"older library: InitCompens gets the name and the arm only",
         Lib::kStandIns,
         true,
         0,
         L"dea.cmp",
         0,
         0,
         0,
         "InitCompens(\"dea.cmp\", 1)\nSetCompensMode(3, 0 0 0)\n",
         L"",
         {"CMM=Mill loaded new dea comp dll (wcompens32.dll), looking for subs in dll\n",
          "CMM=Mill DEA InitCompens (older format) results=0\n"}},
        {"ARM2CompMode: arm 2 in the call and the log",
         Lib::kStandIns,
         false,
         1,
         L"dea.cmp",
         0,
         0,
         0,
         "InitCompens(0, \"dea.cmp\", 2)\nSetCompensMode(3, 0 0 0)\n",
         L"",
         {"CMM=Mill DEA WCOMPENS32 compensation file name=dea.cmp , Arm number=2\n"}},
        {"older library with arm 2",
         Lib::kStandIns,
         true,
         1,
         L"dea.cmp",
         0,
         0,
         0,
         "InitCompens(\"dea.cmp\", 2)\nSetCompensMode(3, 0 0 0)\n",
         L"",
         {}},
        {"no file name: the library gets a null name",
         Lib::kStandIns,
         false,
         0,
         nullptr,
         0,
         0,
         0,
         "InitCompens(0, null, 1)\nSetCompensMode(3, 0 0 0)\n",
         L"",
         {"CMM=Mill DEA WCOMPENS32 compensation file name= , Arm number=1\n"}},
        {"positive results are success; SetCompensMode's is returned",
         Lib::kStandIns,
         false,
         0,
         L"dea.cmp",
         7,
         2,
         2,
         "InitCompens(0, \"dea.cmp\", 1)\nSetCompensMode(3, 0 0 0)\n",
         L"",
         {"CMM=Mill DEA InitCompens (newer format) results=7\n",
          "CMM=Mill DEA SetCompensMode  WCompensMode=3  results=2\n"}},
        {"InitCompens -1: SetCompensMode is not called, the text ends with its return",
         Lib::kStandIns,
         false,
         0,
         L"dea.cmp",
         -1,
         0,
         -1,
         "InitCompens(0, \"dea.cmp\", 1)\n",
         h + L"\nInitCompens return=-1",
         {"CMM=Mill DEA InitCompens (newer format) results=-1\n"}},
        {"older InitCompens failing the same way",
         Lib::kStandIns,
         true,
         0,
         L"dea.cmp",
         -4,
         0,
         -4,
         "InitCompens(\"dea.cmp\", 1)\n",
         h + L"\nInitCompens return=-4",
         {}},
        {"SetCompensMode negative: both returns in the text",
         Lib::kStandIns,
         false,
         0,
         L"dea.cmp",
         0,
         -5,
         -5,
         "InitCompens(0, \"dea.cmp\", 1)\nSetCompensMode(3, 0 0 0)\n",
         h + L"\nInitCompens return=0\nSetCompensMode return=-5",
         {"CMM=Mill DEA SetCompensMode  WCompensMode=3  results=-5\n"}},
        {"newer library missing",
         Lib::kNone,
         false,
         0,
         L"dea.cmp",
         0,
         0,
         -1,
         "",
         h + L"\nAfxLoadLibrary failed for wcompens32_2.dll",
         {"CMM=Mill can't load new dea comp dll (wcompens32_2.dll)\n", "System error code: 0x",
          "libwcompens32_2.so"}},
        {"older library missing",
         Lib::kNone,
         true,
         0,
         L"dea.cmp",
         0,
         0,
         -1,
         "",
         h + L"\nAfxLoadLibrary failed for wcompens32.dll",
         {"CMM=Mill can't load new dea comp dll (wcompens32.dll)\n"}},
        {"entry points missing: each named, InitCompens not called",
         Lib::kInitOnly,
         false,
         0,
         L"dea.cmp",
         0,
         0,
         -1,
         "",
         h + L"\nGetProcAddress failed for SetCompensMode\nGetProcAddress failed for COMPENSA",
         {"SetCompensMode=0 COMPENSA=0\n"}},
    };
    QTemporaryDir empty;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        QlnRecorder().clear();
        const StandIn& lib = row.folder == Lib::kInitOnly ? InitOnlyLibrary()
                             : row.old                    ? OldLibrary()
                                                          : NewLibrary();
        lib.Reset(row.initResult, row.modeResult);
        const QString folder = row.folder == Lib::kStandIns   ? kStandInDir
                               : row.folder == Lib::kInitOnly ? kInitOnlyDir
                                                              : empty.path();
        ScopedLibraryPath path(folder);
        LogView log;
        NewDeaVolcomp dea;
        dea.SetContext(&app, &iface, row.old ? 1 : 0, 0, 0, 3, CPoint3());

        EXPECT_EQ(dea.LoadCompensation(row.fileName, row.arm2), row.result);
        EXPECT_EQ(dea.IsReady(), row.result >= 0 ? 1 : 0);
        EXPECT_EQ(lib.Journal(), row.folder == Lib::kNone ? "" : row.journal);
        const auto boxes = BoxTexts();
        if (row.boxText.empty()) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u) << "reported once";
            EXPECT_EQ(boxes[0], row.boxText);
        }
        for (const std::string& line : row.logLines)
            EXPECT_TRUE(log.Has(line)) << line;
        EXPECT_EQ(log.Has("Subroutine addresses"), row.folder != Lib::kNone);
    }
}

TEST_F(NewDeaTest, DirectionCodesAreTheOppositeOfTheStandardMethod) {
    ScopedLibraryPath path(kStandInDir);
    const CPoint3 origin(1.0, 2.0, 3.0);
    NewDeaVolcomp dea;
    dea.SetContext(&app, &iface, 0, 0, 0, 1, origin);
    ASSERT_EQ(dea.LoadCompensation(L"dea.cmp", 0), 0);
    NewLibrary().Reset(0, 0);
    const CPoint3 tip(10.0, 20.0, 30.0);
    auto shift = [&](int i) { return deastandin::kShift[i] + deastandin::kTipFactor * tip[i]; };

    struct Row {
        const char* legend;
        bool fromMachine;
        bool sameObject;
        CPoint3 in;
        std::string call;
    };
    const Row rows[] = {
        {"from the machine: code 0, origin taken off first",
         true,
         false,
         {11, 22, 33},
         "COMPENSA(0, tip 10 20 30, point 10 20 30)\n"},
        {"from the machine, input and output one point",
         true,
         true,
         {11, 22, 33},
         "COMPENSA(0, tip 10 20 30, point 10 20 30)\n"},
        {"to the machine: code 1, origin added after",
         false,
         false,
         {10, 20, 30},
         "COMPENSA(1, tip 10 20 30, point 10 20 30)\n"},
        {"to the machine, input and output one point",
         false,
         true,
         {10, 20, 30},
         "COMPENSA(1, tip 10 20 30, point 10 20 30)\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        NewLibrary().Reset(0, 0);
        CPoint3 in = row.in;
        CPoint3 separate;
        CPoint3& out = row.sameObject ? in : separate;
        if (row.fromMachine)
            dea.CompensateFromCMM(tip, in, out);
        else
            dea.CompensateToCMM(tip, in, out);
        EXPECT_EQ(NewLibrary().Journal(), row.call);
        for (int i = 0; i < 3; ++i) {
            const double want = row.fromMachine ? row.in[i] - origin[i] + shift(i)
                                                : row.in[i] - shift(i) + origin[i];
            EXPECT_NEAR(out[i], want, kTol) << "coordinate " << i;
        }
        if (!row.sameObject) {
            EXPECT_EQ(in, row.in) << "the input stays as it was";
        }
    }
}

TEST_F(NewDeaTest, CompensateWritesEnteringAndExitingLines) {
    ScopedLibraryPath path(kStandInDir);
    NewDeaVolcomp dea;
    dea.SetContext(&app, &iface, 0, 0, 0, 1, CPoint3());
    ASSERT_EQ(dea.LoadCompensation(L"dea.cmp", 0), 0);
    CPoint3 in(1.0, 2.0, 3.0);
    CPoint3 out;
    LogView log;
    dea.CompensateFromCMM(CPoint3(), in, out);
    dea.CompensateToCMM(CPoint3(), out, in);
    for (const char* line :
         {"NewDeaVolcomp Entering CompensateFromCMM with in=(1.000000 2.000000 3.000000), "
          "out=(0.000000 0.000000 0.000000)\n",
          "NewDeaVolcomp: exiting CompensateFromCMM with in=(1.000000 2.000000 3.000000), "
          "out=(1.001000 2.002000 3.003000)\n",
          "NewDeaVolcomp Entering CompensateToCMM with in=(1.001000 2.002000 3.003000), "
          "out=(1.000000 2.000000 3.000000)\n",
          "NewDeaVolcomp Exiting CompensateToCMM with in=(1.001000 2.002000 3.003000), "
          "out=(1.000000 2.000000 3.000000)\n"})
        EXPECT_TRUE(log.Has(line)) << line;
}

// ---- the loader ------------------------------------------------------------------------

TEST(LibraryLoaderTest, PlatformFileNames) {
    struct Row {
        const char* legend;
        const wchar_t* name;
        const char* file;
    };
    const Row rows[] = {
        {"maker's name", L"wcompens32.dll", "libwcompens32.so"},
        {"suffix in capitals", L"WCOMPENS32_2.DLL", "libWCOMPENS32_2.so"},
        {"a path is used as given", L"/opt/dea/wcompens32.dll", "/opt/dea/wcompens32.dll"},
        {"a name without .dll is kept", L"libdea.so", "libdea.so"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(LibraryLoader::PlatformFileName(row.name), row.file) << row.legend;
}

TEST(LibraryLoaderTest, SearchesLibraryPathBeforeTheProgramFolder) {
    QTemporaryDir first;
    QTemporaryDir second;
    QFile::copy(kStandInDir + "/libwcompens32_2.so", second.path() + "/libwcompens32_2.so");
    const std::string programDir =
        std::filesystem::canonical("/proc/self/exe").parent_path().string();
    {
        // Empty entries are skipped: they would mean whatever the current folder is.
        ScopedLibraryPath path(first.path() + "::" + second.path() + ":");
        const auto dirs = LibraryLoader::SearchDirectories();
        ASSERT_EQ(dirs.size(), 3u);
        EXPECT_EQ(dirs[0], first.path().toStdString());
        EXPECT_EQ(dirs[1], second.path().toStdString());
        EXPECT_EQ(QDir(QString::fromStdString(dirs[2])).canonicalPath(),
                  QDir(QString::fromStdString(programDir)).canonicalPath());
        EXPECT_EQ(LibraryLoader::Locate(L"wcompens32_2.dll"),
                  second.path().toStdString() + "/libwcompens32_2.so");
        EXPECT_EQ(LibraryLoader::Locate(L"wcompens32.dll"), "libwcompens32.so")
            << "not found anywhere: left to the system's search";
    }
    {
        ScopedLibraryPath path(kStandInDir);
        EXPECT_EQ(LibraryLoader::Locate(L"wcompens32_2.dll"),
                  kStandInDir.toStdString() + "/libwcompens32_2.so")
            << "the first folder that holds it wins";
    }
}

}  // namespace
