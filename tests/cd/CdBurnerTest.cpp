// Both CD burners and the CD job thread against the scriptable disc recording service.
#include "cd/CdBurner.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "image/FloppyLayout.h"
#include "image/IsoImageBuilder.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

using testsupport::Bytes;
using testsupport::Pattern;

class CdBurnerTest : public testsupport::JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    entries = testsupport::JobEntries(5);
    entries.push_back({5000, Bytes("readme.txt")});
    entries.push_back({5001, Bytes("Setup.Cfg")});
    entries.push_back({5101, Pattern(13, 7)});  // not a multiple of 4
    entries.push_back({1031, Bytes("T1031")});
    entries.push_back({1039, Bytes("T1039")});
    entries.push_back({1041, Bytes("T1041")});
    UseEntries(entries);
    recording.stageWatch = &job.cdStage;
  }

  cd::CdJobServices CdServices() {
    cd::CdJobServices services;
    services.job = &job;
    services.system = &system;
    services.recording = &recording;
    services.dialog = &dialog;
    return services;
  }

  void RunJob(bool imapi2, int32_t recorder = 0) {
    UseEntries(entries);
    job.useImapi2 = imapi2 ? 1 : 0;
    job.selectedRecorder = recorder;
    job.cdStage = 0;
    cd::CdBurnThread(CdServices());
  }

  std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const auto& box : dialog.Boxes()) {
      EXPECT_FALSE(box.owned);
      EXPECT_EQ(box.type, platform::kMbIconError);
      EXPECT_EQ(box.caption, "T1006");
      texts.push_back(box.text);
    }
    return texts;
  }

  bool Logged(const std::string& line) {
    const auto log = recording.Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  // The calls of `expected` appear in the log in this order (others may come between).
  void ExpectInOrder(const std::vector<std::string>& expected) {
    const auto log = recording.Log();
    auto at = log.begin();
    for (const std::string& line : expected) {
      at = std::find(at, log.end(), line);
      ASSERT_NE(at, log.end()) << "missing or out of order: " << line;
    }
  }

  // Whatever the outcome: the job has ended, nothing is held, COM is left.
  void ExpectCleanEnd(bool failed) {
    EXPECT_EQ(job.busy, 0);
    EXPECT_EQ(job.jobFailed, failed ? 1 : 0);
    EXPECT_EQ(recording.LiveObjects(), 0);
    EXPECT_EQ(recording.ComDepth(), 0);
  }

  std::vector<mkinstalldat::DatEntry> entries;
  fakes::FakeDiscRecording recording;
};

// --- IMAPI (Windows 2000 and XP) --------------------------------------------------------------

TEST_F(CdBurnerTest, ImapiStagesTheFilesAndTheBootImageThenWritesTheDisc) {
  RunJob(false);
  ExpectCleanEnd(false);
  EXPECT_TRUE(dialog.Boxes().empty());
  EXPECT_EQ(job.cdStage, 6);
  EXPECT_EQ(recording.StageTrail(), (std::vector<int32_t>{0, 1, 3, 4, 5, 6}));
  ExpectInOrder({"CoInitialize",
                 "CreateShellCdBurn",
                 "HasRecordableDrive",
                 "CreateDiscMaster",
                 "Open",
                 "EnumFormats 2",
                 "EnumDiscRecorders",
                 "NextRecorder",
                 "SetActiveDiscRecorder \\Device\\CdRom0",
                 "QueryJoliet",
                 "CreateTemporaryStorage 0x1012",
                 "CreateStream 1 readme.txt 0x1011",
                 "CreateStream 1 Setup.Cfg 0x1011",
                 "CreateTemporaryStorage 0x1012",
                 "CreateStream 2 bootimg 0x1011",
                 "Write bootimg 1474560",
                 "OpenStream 2 bootimg 0x10",
                 "GetJolietProperties",
                 "Enum",
                 "SetJolietProperties",
                 "AddData 1",
                 "RecordDisc real eject",
                 "CloseMaster",
                 "CloseRecorder \\Device\\CdRom0",
                 "CoUninitialize"});
  EXPECT_EQ(system.Pauses()[0], 1000u);
  // The staged files are the data file's entries, byte for byte.
  ASSERT_EQ(recording.addedFiles.size(), 2u);
  EXPECT_EQ(recording.addedFiles[u"readme.txt"], Pattern(512, 6));
  EXPECT_EQ(recording.addedFiles[u"Setup.Cfg"], Pattern(13, 7));
}

TEST_F(CdBurnerTest, ImapiSetsTheBootPropertiesByIdKeepingTheirTypes) {
  RunJob(false);
  auto& written = recording.writtenProperties;
  EXPECT_EQ(written.count(1), 0u) << "the volume name is left alone";
  EXPECT_EQ(written.count(9), 0u);
  EXPECT_EQ(written[4].type, platform::kVtBool);
  EXPECT_EQ(written[4].number, 1);
  EXPECT_EQ(written[5].type, platform::kVtBstr);
  EXPECT_EQ(written[5].text, u"Talvo");
  EXPECT_EQ(written[6].type, platform::kVtUi1);
  EXPECT_EQ(written[6].number, 0);
  EXPECT_EQ(written[7].type, platform::kVtUi1);
  EXPECT_EQ(written[7].number, 2);
  EXPECT_TRUE(written[8].hadStream);
  EXPECT_EQ(written[8].streamBytes, ExpectedImage()) << "the boot image is the floppy image";
  for (const auto& [id, property] : written) EXPECT_EQ(property.firstNewId, 2u) << id;
}

TEST_F(CdBurnerTest, EachStagingFailureStopsWhereItHappenedWithMessage1031) {
  struct Case {
    std::string failing;
    int32_t stage;
    std::string trace;
  };
  const std::vector<Case> cases = {
      {"QueryJoliet", 1, "Failed QueryInterface Joliet"},
      {"CreateTemporaryStorage#1", 1, "Failed Creating temp"},
      {"CreateStream:Setup.Cfg", 1, "Failed creating stream"},
      {"CreateTemporaryStorage#2", 3, "Failed Creating tempboot"},
      {"CreateStream:bootimg", 3, "Failed creating stream"},
      {"OpenStream:bootimg", 3, "Failed Opening BootStream"},
      {"GetJolietProperties", 3, "Failed GetJolietProperties"},
      {"Enum", 3, "Failed enumerating Joliet properties"},
      {"SetJolietProperties", 3, "Failed SetJolietProperties"},
      {"AddData", 4, "Failed AddData"},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.failing);
    recording.Reset();
    recording.failing = {failure.failing};
    dialog.Reset();
    RunJob(false);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1031"});
    EXPECT_EQ(job.cdStage, failure.stage);
    EXPECT_FALSE(Logged("RecordDisc real eject"));
    EXPECT_TRUE(Logged("CloseMaster"));
    ExpectCleanEnd(true);
    EXPECT_NE(system.TraceText().find("Error: " + failure.trace + " ("), std::string::npos);
  }
}

TEST_F(CdBurnerTest, ImapiServiceFailuresBeforeStagingHaveTheirOwnMessages) {
  recording.hasRecordableDrive = false;
  RunJob(false);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1039"});
  EXPECT_FALSE(Logged("CreateDiscMaster"));
  EXPECT_EQ(job.cdStage, 0);
  ExpectCleanEnd(true);

  recording.Reset();
  recording.failing = {"Open"};
  dialog.Reset();
  RunJob(false);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1041"});
  EXPECT_TRUE(Logged("CloseMaster"));
  ExpectCleanEnd(true);
}

TEST_F(CdBurnerTest, ImapiCountsOnlyAPlainSuccessOfTheDiscWrite) {
  for (platform::HResult result : {platform::kSFalse, platform::kEFail}) {
    recording.Reset();
    recording.recordResult = result;
    dialog.Reset();
    RunJob(false);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1038"});
    EXPECT_EQ(job.cdStage, 6);
    EXPECT_TRUE(Logged("CloseMaster"));
    ExpectCleanEnd(true);
  }
}

TEST_F(CdBurnerTest, ImapiTakesTheRecorderAtTheChosenIndexOrNone) {
  recording.recorderPaths = {"\\Device\\CdRom0", "\\Device\\CdRom1"};
  RunJob(false, 1);
  EXPECT_EQ(recording.activeRecorder, "\\Device\\CdRom1");
  ExpectCleanEnd(false);

  for (int32_t index : {2, -1}) {
    recording.Reset();
    dialog.Reset();
    RunJob(false, index);
    EXPECT_EQ(recording.activeRecorder, "");
    if (index < 0) {
      EXPECT_FALSE(Logged("NextRecorder"));
    }
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1038"})
        << "the disc write fails by its own rule";
    ExpectCleanEnd(true);
  }
}

TEST_F(CdBurnerTest, ImapiStagesWhatTheFileListHolds) {
  // No text 5000: nothing staged, the boot image still set.
  entries.erase(
      std::remove_if(entries.begin(), entries.end(),
                     [](const mkinstalldat::DatEntry& e) { return e.id == 5000 || e.id == 5001; }),
      entries.end());
  RunJob(false);
  ExpectCleanEnd(false);
  EXPECT_TRUE(recording.addedFiles.empty());
  EXPECT_TRUE(recording.writtenProperties[8].hadStream);

  // Two files of one name: the second replaces the first.
  entries.push_back({5000, Bytes("same.txt")});
  entries.push_back({5001, Bytes("same.txt")});
  recording.Reset();
  RunJob(false);
  ASSERT_EQ(recording.addedFiles.size(), 1u);
  EXPECT_EQ(recording.addedFiles[u"same.txt"], Pattern(13, 7));
}

TEST_F(CdBurnerTest, ImapiStagesAHundredFilesAndNeverReadsContentsAsANames) {
  entries = testsupport::JobEntries(5);
  for (int i = 0; i < 100; ++i) {
    entries.push_back({static_cast<uint16_t>(5000 + i), Bytes("f" + std::to_string(i))});
    if (i > 0)
      entries.push_back({static_cast<uint16_t>(5100 + i),
                         Pattern(static_cast<size_t>(i), static_cast<uint8_t>(i))});
  }
  RunJob(false);
  ExpectCleanEnd(false);
  EXPECT_EQ(recording.addedFiles.size(), 100u);
  EXPECT_EQ(recording.addedFiles[u"f99"], Pattern(99, 99));
}

TEST_F(CdBurnerTest, ANameTheStorageRefusesOrANameWithoutDataFailsTheJob) {
  entries.push_back({5002, Bytes("bad:name")});
  entries.push_back({5102, Pattern(3, 1)});
  RunJob(false);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1031"});
  ExpectCleanEnd(true);

  entries.pop_back();
  entries.pop_back();
  entries.push_back({5002, Bytes("orphan.txt")});  // no entry 5102
  recording.Reset();
  dialog.Reset();
  RunJob(false);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1031"});
  EXPECT_FALSE(recording.dataAdded);
  ExpectCleanEnd(true);
}

// --- IMAPI2 (Windows Vista on, and Linux) -------------------------------------------------------

TEST_F(CdBurnerTest, Imapi2BuildsTheImageAndWritesItInOnePiece) {
  RunJob(true);
  ExpectCleanEnd(false);
  EXPECT_TRUE(dialog.Boxes().empty());
  EXPECT_EQ(recording.StageTrail(), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_FALSE(Logged("CreateShellCdBurn")) << "the first burner is never called";
  ExpectInOrder({"CoInitializeEx 2", "CreateDiscMaster2", "GetItem 0", "CreateRecorder2",
                 "InitializeDiscRecorder recorder-0", "CreateDataWriter2", "PutRecorder",
                 "PutClientName ZidirUZUvuzuv", "CreateTemporaryStorage 0x1012",
                 "CreateStream 1 iso 0x1011", "OpenStream 1 iso 0x10", "WriteDisc", "EjectMedia",
                 "CoUninitialize"});
  const auto log = recording.Log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.rfind("Write iso", 0) == 0; }),
            1)
      << "the image goes into the stream in one call";
  // The disc receives exactly the image the builder makes.
  image::IsoPlan plan;
  ASSERT_EQ(image::PlanIsoImage(dataFile.get(), system, &plan), image::kIsoBuilt);
  std::vector<uint8_t> iso(plan.ImageBytes());
  uint32_t length = 0;
  ASSERT_EQ(image::WriteIsoImage(plan, iso.data(), iso.size(), &length, dataFile.get(), system),
            image::kIsoBuilt);
  EXPECT_EQ(recording.burnedImage, iso);
}

TEST_F(CdBurnerTest, Imapi2AFailedOrUnplainWriteStillEjects) {
  for (platform::HResult result : {platform::kSFalse, platform::kEFail}) {
    recording.Reset();
    recording.writeResult = result;
    dialog.Reset();
    RunJob(true);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1038"});
    EXPECT_TRUE(recording.ejected);
    EXPECT_EQ(job.cdStage, 6);
    ExpectCleanEnd(true);
  }
}

TEST_F(CdBurnerTest, Imapi2StopsAtTheFailedStepBeforeTheWrite) {
  struct Case {
    std::string failing;
    int32_t stage;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"CreateDiscMaster2", 0, "T1038"},      {"CreateRecorder2", 1, "T1038"},
      {"InitializeDiscRecorder", 1, "T1038"}, {"CreateDataWriter2", 2, "T1038"},
      {"PutClientName", 2, "T1038"},          {"CreateTemporaryStorage", 2, "T1031"},
      {"CreateStream:iso", 2, "T1031"},       {"Write:iso", 3, "T1031"},
      {"OpenStream:iso", 4, "T1031"},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.failing);
    recording.Reset();
    recording.failing = {failure.failing};
    dialog.Reset();
    RunJob(true);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{failure.message});
    EXPECT_EQ(job.cdStage, failure.stage);
    EXPECT_FALSE(Logged("WriteDisc"));
    EXPECT_FALSE(recording.ejected);
    ExpectCleanEnd(true);
  }
}

TEST_F(CdBurnerTest, Imapi2TakesTheRecorderByIndex) {
  RunJob(true, 1);
  EXPECT_TRUE(Logged("InitializeDiscRecorder recorder-1"));
  ExpectCleanEnd(false);
  for (int32_t index : {2, -1}) {
    recording.Reset();
    dialog.Reset();
    RunJob(true, index);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1038"});
    ExpectCleanEnd(true);
  }
}

TEST_F(CdBurnerTest, Imapi2ImageFailuresSayTheFilesCouldNotBePrepared) {
  entries.push_back({5002, Bytes("orphan.txt")});
  RunJob(true);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"T1031"});
  EXPECT_EQ(job.cdStage, 3);
  ExpectCleanEnd(true);
}

TEST_F(CdBurnerTest, Imapi2BurnsAnInstallationLargerThanTheTraditionalBuffer) {
  entries.push_back({5002, Bytes("big.bin")});
  entries.push_back({5102, Pattern(2500000, 3)});
  RunJob(true);
  ExpectCleanEnd(false);
  EXPECT_GT(recording.burnedImage.size(), image::kDefaultIsoBufferBytes);
  EXPECT_EQ(recording.burnedImage.size() % 2048, 0u);
}

}  // namespace
