#include "platform/FileTimes.h"
#include "platform/database/Connection.h"
#include "presetdb/PresetFixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace torvex;
using torvex::test::Rows;

namespace {

const std::string kDefs = "('VISIWIN32', 1, 'V_###Var_Name'), ('VISIWINSTUDIO', 1, 'S.###Var_Name')";
const std::string kRow = "(1, 'REEL', 1, 1, 'Speed', 7, 0, 2, 't', 'page', 0, 100, 10, 90, 1)";
// The preset row that kRow generates, with tuned values of its own.
const std::string kTunedRow = "(1, 'REEL', 1, 1, 'V_Speed', 7, 0, 2, 't', 'page', -5, 5, -5, 5, 5)";

class WorkSequence : public test::PresetFixture {
protected:
    void SetUp() override { test::WriteFile(Cfg(), "[Project]\r\nForMachine1=true\r\n"); }
    void SetOldTime(const std::string& path) {
        const timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
};

TEST_F(WorkSequence, PublishesAByteCopyAndKeepsTheTemplateTime) {
    MakeTemplate(kDefs, kRow);
    test::MakeDatabase(Template(),
                       "CREATE TABLE PRESET_DEFS (stale TEXT); INSERT INTO PRESET_DEFS VALUES ('x');");
    SetOldTime(Template());
    Run();
    EXPECT_TRUE(platform::db::SameDatabaseContent(Preset(), Template()))
        << "the preset database holds the template";
    EXPECT_EQ(Table("ID, var_name", Template()), (Rows{{"1", "V_Speed"}}))
        << "the old work table never survives";
    const auto times = platform::GetFileTimes(Template());
    EXPECT_EQ(times.lastWrite.tv_sec, 1234567890);
    EXPECT_EQ(times.lastWrite.tv_nsec, 123456789);
    EXPECT_EQ(test::QueryOne(Preset(), "SELECT group_concat(name) FROM sqlite_schema"),
              "Source_DEFS,Source_PRESET_DEFS,PRESET_DEFS");
}

TEST_F(WorkSequence, ThePreviousPresetDatabaseIsKeptAsBackup) {
    MakeTemplate(kDefs, kRow);
    MakePreset(kTunedRow);
    const std::string before = test::ReadFile(Preset());
    test::WriteFile(Preset() + ".bak", "an older backup");
    Run();
    EXPECT_EQ(test::ReadFile(Preset() + ".bak"), before);
    EXPECT_TRUE(platform::db::SameDatabaseContent(Preset(), Template()))
        << "the preset database holds the template";
    EXPECT_FALSE(test::Exists(Preset() + ".bak.tmp"));
}

// A power cut between the new content and the backup's rename leaves the
// copy of the previous content pending: one that differs from the preset
// database becomes the backup, one that equals it is dropped.
TEST_F(WorkSequence, APendingBackupCopyIsFinishedByTheNextRegeneration) {
    MakeTemplate(kDefs, kRow);
    MakePreset(kTunedRow);
    Run(); // the preset database now holds what a run makes of it
    const std::string bak = test::ReadFile(Preset() + ".bak");
    for (const bool differs : {false, true}) {
        SCOPED_TRACE(differs ? "differs" : "equal");
        if (differs)
            test::MakeDatabase(
                Preset() + ".bak.pending",
                "CREATE TABLE PRESET_DEFS " + test::kPresetColumns +
                    "; INSERT INTO PRESET_DEFS VALUES (9, 'REEL', 1, 1, 'Lost', 7, 0, 2, 't', 'p', "
                    "-7, 7, -7, 7, 7);");
        else
            test::WriteFile(Preset() + ".bak.pending", test::ReadFile(Preset()));
        const std::string pending = test::ReadFile(Preset() + ".bak.pending");
        Run();
        EXPECT_FALSE(test::Exists(Preset() + ".bak.pending"));
        EXPECT_EQ(test::ReadFile(Preset() + ".bak"), differs ? pending : bak);
    }
}

TEST_F(WorkSequence, MissingTemplateTouchesNothing) {
    MakePreset("");
    const std::string before = test::ReadFile(Preset());
    Run();
    EXPECT_EQ(test::ReadFile(Preset()), before);
    EXPECT_FALSE(test::Exists(Template()));
    EXPECT_TRUE(dialogs_.Shown().empty());
}

TEST_F(WorkSequence, IntegratedModeStartsFromTheMachineCopy) {
    test::WriteFile(HX5Ini(), "[Common]\r\nNameM1=M1\r\nSaveAndRestore=" + (dir_ / "save") + "\r\n");
    MakeTemplate(kDefs, kRow);
    MakePreset(kTunedRow);
    std::filesystem::create_directories(dir_ / "save/Torvex");
    test::MakeDatabase(dir_ / "save/Torvex/Torvex.mdb",
                       "CREATE TABLE PRESET_DEFS " + test::kPresetColumns +
                           "; INSERT INTO PRESET_DEFS VALUES (1, 'REEL', 1, 1, 'S.Speed', 7, 0, 2, 't', 'p', "
                           "-7, 7, -7, 7, 7);");
    // The main configuration program crashed while it wrote the copy: the
    // copy is read as its journal restores it, and left as it lies.
    test::LeaveHotJournal(dir_ / "save/Torvex/Torvex.mdb",
                          "UPDATE PRESET_DEFS SET abs_min = 99; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                          "SELECT i + 1 FROM n WHERE i < 300) INSERT INTO PRESET_DEFS (ID, var_name, text) "
                          "SELECT 100 + i, 'x' || i, randomblob(4000) FROM n;");
    const std::string saveBefore = test::FolderState(dir_ / "save");
    Run("/EXTERNAL=HX5CFG");
    EXPECT_EQ(Table("var_name, abs_min, pass"), (Rows{{"V_Speed", "-7.0", "7"}}));
    EXPECT_EQ(test::FolderState(dir_ / "save"), saveBefore) << "the machine copy is only read";
}

TEST_F(WorkSequence, IntegratedWithoutMachineCopyNamesThePresetFileAndGoesOn) {
    test::WriteFile(HX5Ini(), "[Common]\r\nNameM1=M1\r\nSaveAndRestore=" + (dir_ / "save") + "\r\n");
    MakeTemplate(kDefs, kRow);
    dialogs_.Queue(platform::Answer::Ok);
    Run("/EXTERNAL=HX5CFG");
    ASSERT_EQ(dialogs_.Shown().size(), 1u);
    const auto& box = dialogs_.Shown()[0];
    EXPECT_EQ(box.text,
              "Konnte die Datei:\"Torvex.mdb\" in der Vorlage nicht finden!\r\n\r\n"
              "Ist das Bild in der Vorlage noch nicht vorhanden (also neu)?\r\n"
              "Dann ist diese Meldung völlig normal und es wird eine neue Datei mit den Standardwerten "
              "erzeugt.");
    EXPECT_EQ(box.title, std::nullopt);
    EXPECT_EQ(box.icon, platform::Icon::Information);
    EXPECT_EQ(Table("var_name"), (Rows{{"V_Speed"}}));
}

TEST_F(WorkSequence, AnUnattendedRunLogsTheMissingMachineCopyInsteadOfWaitingForAnAnswer) {
    test::WriteFile(HX5Ini(), "[Common]\r\nNameM1=M1\r\nSaveAndRestore=" + (dir_ / "save") + "\r\n");
    MakeTemplate(kDefs, kRow);
    auto& rt = MakeRuntime("/EXTERNAL=HX5CFG");
    rt.GetStartModeIntegrated();
    rt.GetExistingMachines(HX5Ini());
    rt.SetStartMode(true, true); // nobody would be there to answer a box
    presetdb::PresetGeneration(rt).WorkOnMDB();
    EXPECT_TRUE(dialogs_.Shown().empty());
    EXPECT_NE(test::ReadFile(ServicePackLog()).find("! Fault Torvex_Config: Konnte die Datei:\"Torvex.mdb\""),
              std::string::npos);
    EXPECT_EQ(Table("var_name"), (Rows{{"V_Speed"}}));
}

TEST_F(WorkSequence, JetFilesAreRefusedAndNothingChanges) {
    MakeTemplate(kDefs, kRow);
    std::string jet(2048, '\0');
    jet.replace(4, 15, "Standard Jet DB");
    test::WriteFile(Preset(), jet);
    const std::string templateBefore = test::ReadFile(Template());
    Run("/EXTERNAL=SILENT");
    EXPECT_EQ(test::ReadFile(Preset()), jet);
    EXPECT_EQ(test::ReadFile(Template()), templateBefore);
    const std::string log = test::ReadFile(ServicePackLog());
    EXPECT_NE(
        log.find("The file \"" + Preset() + "\" is an old Access (Jet) database and must be imported first"),
        std::string::npos)
        << log;
}

TEST_F(WorkSequence, AnUnreadablePresetDatabaseIsNotReplaced) {
    MakeTemplate(kDefs, kRow);
    test::WriteFile(Preset(), std::string(4096, 'x'));
    Run("/EXTERNAL=SILENT");
    EXPECT_EQ(test::ReadFile(Preset()), std::string(4096, 'x'));
    EXPECT_NE(test::ReadFile(ServicePackLog()).find("was left unchanged"), std::string::npos);
}

class AnotherWriter : public WorkSequence {
protected:
    // Runs the generation while another program commits into the preset
    // database just before each of the first `commits` publishes.
    presetdb::PresetGeneration& RunWhileCommitting(int commits) {
        auto& rt = MakeRuntime("/EXTERNAL=SILENT");
        rt.GetStartModeIntegrated();
        rt.GetExistingMachines(rt.GetHX5ConfigurationIniPath());
        generation_ = std::make_unique<presetdb::PresetGeneration>(rt);
        generation_->OnBeforePublish([this, commits] {
            if (++commitsMade_ <= commits)
                test::MakeDatabase(Preset(),
                                   "UPDATE PRESET_DEFS SET max = " + std::to_string(100 + commitsMade_));
        });
        generation_->WorkOnMDB();
        return *generation_;
    }
    int commitsMade_ = 0;
};

TEST_F(AnotherWriter, ACommitDuringTheRunIsCarriedOverOrTheDatabaseLeftAsItIs) {
    MakeTemplate(kDefs, kRow);
    MakePreset(kTunedRow);
    RunWhileCommitting(1);
    EXPECT_EQ(Table("max"), (Rows{{"101.0"}})) << "the committed value is taken over by a second generation";
    EXPECT_EQ(Table("max", Preset() + ".bak"), (Rows{{"101.0"}})) << "the backup is the version replaced";
    EXPECT_EQ(runtime_->FailureReports(), 0);
}

TEST_F(AnotherWriter, AProgramThatNeverStopsCommittingLeavesTheDatabaseToIt) {
    MakeTemplate(kDefs, kRow);
    MakePreset(kTunedRow);
    RunWhileCommitting(100);
    EXPECT_EQ(commitsMade_, 3);
    EXPECT_EQ(Table("var_name, max"), (Rows{{"V_Speed", "103.0"}}))
        << "the last commit stays, nothing replaced";
    EXPECT_FALSE(test::Exists(Preset() + ".bak"));
    EXPECT_EQ(runtime_->FailureReports(), 1);
    EXPECT_NE(test::ReadFile(ServicePackLog()).find("was left unchanged: another program changed it"),
              std::string::npos);
}

} // namespace
