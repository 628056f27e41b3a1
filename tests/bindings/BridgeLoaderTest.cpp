// Loading the two copies of the bridge library: from the program's folder
// whatever the working directory, missing copies and exports, files that are
// not libraries, the counted TV520 open, and no state shared between copies.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "device_access/BridgeConnections.h"
#include "device_access/Gen2MidHeadset.h"
#include "device_access/Tv520Headset.h"
#include "tests/bindings/BridgeFixture.h"

namespace ovra::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "ovra-bindings-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }
    void CopyIn(const fs::path& file) { fs::copy_file(file, path_ / file.filename()); }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(path_ / name) << text;
    }

private:
    fs::path path_;
};

fs::path ProgramFolder() { return DlModuleLoader::ProgramFolder(); }

TEST(ModuleFileName, WindowsLibraryNamesMapToSharedObjects) {
    EXPECT_EQ(DlModuleLoader::FileNameFor("B2Xlib_ene.dll"), "B2Xlib_ene.so");
    EXPECT_EQ(DlModuleLoader::FileNameFor("ITECCTdll.DLL"), "ITECCTdll.so");
    EXPECT_EQ(DlModuleLoader::FileNameFor("plain.so"), "plain.so");
    EXPECT_EQ(DlModuleLoader::FileNameFor(".dll"), ".dll");
}

TEST(BridgeLoader, BothCopiesComeFromTheProgramFolderWhateverTheWorkingDirectory) {
    // A decoy in the working directory must never be picked up.
    TempFolder cwd;
    cwd.Write("B2Xlib.so", "decoy");
    cwd.Write("B2Xlib_ene.so", "decoy");
    const fs::path before = fs::current_path();
    fs::current_path(cwd.Path());
    BridgeFixture fx;
    fs::current_path(before);

    ASSERT_TRUE(fx.plain->Loaded());
    ASSERT_TRUE(fx.ene->Loaded());
    EXPECT_EQ(fx.plain->LoadedModule()->Path(), (ProgramFolder() / "B2Xlib.so").string());
    EXPECT_EQ(fx.ene->LoadedModule()->Path(), (ProgramFolder() / "B2Xlib_ene.so").string());
    EXPECT_TRUE(fx.plain->Initialised());
    EXPECT_TRUE(fx.ene->Initialised());
    EXPECT_TRUE(fx.log.Texts().empty());
    // The ENE copy binds USB_Customer_Control, the plain copy does not.
    EXPECT_NE(fx.ene->Slots().m_pfnUSB_Customer_Control, nullptr);
    EXPECT_EQ(fx.plain->Slots().m_pfnUSB_Customer_Control, nullptr);
    EXPECT_NE(fx.plain->Slots().m_pfnWriteI2CRegister_DSP, nullptr);
}

TEST(BridgeLoader, TheTwoCopiesAreDistinctFilesWithSeparateState) {
    struct stat plainFile {}, eneFile {};
    ASSERT_EQ(stat((ProgramFolder() / "B2Xlib.so").c_str(), &plainFile), 0);
    ASSERT_EQ(stat((ProgramFolder() / "B2Xlib_ene.so").c_str(), &eneFile), 0);
    EXPECT_NE(plainFile.st_ino, eneFile.st_ino);

    BridgeFixture fx;
    EXPECT_NE(fx.plain->Slots().m_pfnUVC_OpenPID, fx.ene->Slots().m_pfnUVC_OpenPID);
    Tv520Connection tv520(*fx.ene);
    ASSERT_TRUE(tv520.OpenTV520());
    EXPECT_NE(OpenHandleOf(*fx.ene), 0u);
    // The plain copy has opened nothing: its register writes reach no device.
    EXPECT_EQ(OpenHandleOf(*fx.plain), 0u);
    Gen2MidHeadset gen2mid(*fx.plain, fx.clock);
    EXPECT_FALSE(gen2mid.SetLEDFrame(0x12));
    EXPECT_EQ(fx.gen2mid.registers.Frame(), 0);

    const unsigned plainHandle = fx.plain->OpenPid(kGen2MidProductId);
    ASSERT_NE(plainHandle, 0u);
    EXPECT_NE(plainHandle, tv520.Handle());
    EXPECT_TRUE(gen2mid.SetLEDFrame(0x12));
    EXPECT_EQ(fx.gen2mid.registers.Frame(), 0x12);
    // Closing one copy's device leaves the other's open.
    GiveUpGen2MidBinding(*fx.plain);
    EXPECT_EQ(OpenHandleOf(*fx.plain), 0u);
    EXPECT_EQ(OpenHandleOf(*fx.ene), tv520.Handle());
    Tv520Headset headset(*fx.ene, fx.clock);
    EXPECT_TRUE(headset.SetLEDFrame(3));
}

TEST(BridgeLoader, AMissingCopyLeavesAnEmptyBindingAndOperationsDoNothing) {
    TempFolder folder;
    folder.CopyIn(ProgramFolder() / "B2Xlib.so");
    BridgeFixture fx(folder.Path().string());
    EXPECT_TRUE(fx.plain->Loaded());
    EXPECT_FALSE(fx.ene->Loaded());
    EXPECT_FALSE(fx.ene->Initialised());  // the ENE-ready flag stays clear
    EXPECT_TRUE(fx.log.Texts().empty());

    Tv520Connection tv520(*fx.ene);
    EXPECT_FALSE(tv520.OpenTV520());
    EXPECT_EQ(tv520.OpenCount(), 0);
    Tv520Headset headset(*fx.ene, fx.clock);
    EXPECT_FALSE(headset.SetLEDEffect(LightingEffect::Static, {1, 2, 3}));
    EXPECT_EQ(headset.GetLEDFrame(), std::nullopt);
    EXPECT_TRUE(fx.clock.Sleeps().size() == 2);  // the sequence runs, every call skipped
    EXPECT_EQ(fx.tv520.first.Log().Count(), 0u);
}

TEST(BridgeLoader, MissingExportsAreSkippedAndReadsFail) {
    BridgeFixture fx((ProgramFolder() / "partial").string());
    ASSERT_TRUE(fx.ene->Loaded());
    EXPECT_EQ(fx.ene->Slots().m_pfnUSB_Customer_Control, nullptr);
    EXPECT_EQ(fx.ene->Slots().m_pfnReadI2CSuperRegister, nullptr);
    Tv520Connection tv520(*fx.ene);
    ASSERT_TRUE(tv520.OpenTV520());
    fx.eneHost.ClearCalls();

    Tv520Headset headset(*fx.ene, fx.clock);
    EXPECT_TRUE(headset.SetLEDFrame(0x21));
    // The writes still happen; the bracket calls are simply not made.
    EXPECT_EQ(fx.eneHost.Calls().size(), 4u);
    EXPECT_EQ(fx.tv520.second.Register(0x80F3), 0x21);
    fx.eneHost.ClearCalls();
    EXPECT_EQ(headset.GetLEDFrame(), std::nullopt);
    EXPECT_EQ(fx.eneHost.Calls().size(), 1u);  // the pointer write alone
}

TEST(BridgeLoader, AFileThatIsNotALibraryIsReportedAndLeftEmpty) {
    TempFolder folder;
    folder.Write("B2Xlib.so", "this is not a shared object\n");
    folder.Write("B2Xlib_ene.so", "");
    BridgeFixture fx(folder.Path().string());
    EXPECT_FALSE(fx.plain->Loaded());
    EXPECT_FALSE(fx.ene->Loaded());
    const auto lines = fx.log.Texts();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], StartsWith("\nLoad " + (folder.Path() / "B2Xlib.so").string() + " failed: "));
    EXPECT_THAT(lines[1], HasSubstr("B2Xlib_ene.so failed: "));
    Gen2MidHeadset gen2mid(*fx.plain, fx.clock);
    EXPECT_FALSE(gen2mid.BleStatusOn());
}

TEST(Tv520Connection, OpenIsCountedAndTheLastReleaseCloses) {
    BridgeFixture fx;
    Tv520Connection tv520(*fx.ene);
    EXPECT_TRUE(tv520.ReleaseTV520());  // nothing open: nothing happens
    EXPECT_TRUE(fx.eneHost.Calls().empty());

    EXPECT_TRUE(tv520.OpenTV520());
    EXPECT_TRUE(tv520.OpenTV520());
    EXPECT_EQ(tv520.OpenCount(), 2);
    EXPECT_TRUE(tv520.ReleaseTV520());
    EXPECT_EQ(OpenHandleOf(*fx.ene), tv520.Handle());  // still open
    EXPECT_TRUE(tv520.ReleaseTV520());
    EXPECT_EQ(tv520.Handle(), 0u);
    EXPECT_EQ(tv520.OpenCount(), 0);
    EXPECT_THAT(fx.eneHost.Calls(), ElementsAre("UVC_OpenPID(0x1876)", "UVC_Close()"));

    fx.eneHost.ClearCalls();
    ASSERT_TRUE(tv520.OpenTV520());
    ASSERT_TRUE(tv520.OpenTV520());
    tv520.GiveUp();
    EXPECT_EQ(tv520.OpenCount(), 0);
    EXPECT_THAT(fx.eneHost.Calls(),
                ElementsAre("UVC_OpenPID(0x1876)", "UVC_Close()", "BrxLib_UnInitialize()"));
}

TEST(Tv520Connection, NoDeviceMeansNoOpenAndNoCount) {
    BridgeFixture fx;
    fx.eneHost.devices = {&fx.gen2mid};
    Tv520Connection tv520(*fx.ene);
    EXPECT_FALSE(tv520.OpenTV520());
    EXPECT_EQ(tv520.OpenCount(), 0);
    EXPECT_EQ(tv520.Handle(), 0u);
}

}  // namespace
}  // namespace ovra::testing
