// Both CD burners and the CD job thread against the scriptable disc recording service.
#include "cd/CdBurner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "image/IsoImageBuilder.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

using mkinstalldat::DatEntry;
using testsupport::Bytes;
using testsupport::Pattern;

class CdBurnerTest : public testsupport::JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    base = testsupport::JobEntries(5);
    for (uint16_t id : {1031, 1039, 1041}) base.push_back({id, Bytes("T" + std::to_string(id))});
    entries = base;
    entries.push_back({5000, Bytes("readme.txt")});
    entries.push_back({5001, Bytes("Setup.Cfg")});
    entries.push_back({5101, Pattern(13, 7)});  // not a multiple of 4
    recording.stageWatch = &job.cdStage;
  }

  // Runs one job from a fresh fake; gives the texts of the error boxes it showed.
  std::vector<std::string> RunJob(bool imapi2, int32_t recorder = 0) {
    UseEntries(entries);
    job.useImapi2 = imapi2 ? 1 : 0;
    job.selectedRecorder = recorder;
    job.cdStage = 0;
    cd::CdJobServices services;
    services.job = &job;
    services.system = &system;
    services.recording = &recording;
    services.dialog = &dialog;
    cd::CdBurnThread(services);
    std::vector<std::string> texts;
    for (const auto& box : dialog.Boxes()) {
      EXPECT_FALSE(box.owned);
      EXPECT_EQ(box.type, platform::kMbIconError);
      EXPECT_EQ(box.caption, "T1006");
      texts.push_back(box.text);
    }
    EXPECT_EQ(job.jobFailed, texts.empty() ? 0 : 1);
    return texts;
  }
  void Fresh() {
    recording.Reset();
    dialog.Reset();
  }
  bool Logged(const std::string& line) {
    const auto log = recording.Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  // Each call of the table was made, first at the stage given.
  void ExpectStages(const std::vector<std::pair<std::string, int32_t>>& table) {
    for (const auto& [call, stage] : table) EXPECT_EQ(recording.StageOf(call), stage) << call;
  }

  std::vector<DatEntry> base, entries;
  fakes::FakeDiscRecording recording;
  const std::vector<std::string> kNone{};
};

TEST_F(CdBurnerTest, ImapiStagesTheFilesAndTheBootImageThenWritesTheDisc) {
  EXPECT_EQ(RunJob(false), kNone);
  EXPECT_EQ(job.cdStage, 6);
  ExpectStages({{"CoInitialize", 0},
                {"HasRecordableDrive", 0},
                {"Open", 0},
                {"EnumFormats 2", 0},
                {"SetActiveDiscRecorder \\Device\\CdRom0", 0},
                {"QueryJoliet", 0},
                {"CreateTemporaryStorage 0x1012", 1},
                {"CreateStream 1 readme.txt 0x1011", 1},
                {"CreateStream 2 bootimg 0x1011", 3},
                {"Write bootimg 1474560", 3},
                {"OpenStream 2 bootimg 0x10", 3},
                {"SetJolietProperties", 3},
                {"AddData 1", 4},
                {"RecordDisc real eject", 5},
                {"CloseMaster", 6},
                {"CloseRecorder \\Device\\CdRom0", 6},
                {"CoUninitialize", 6}});
  EXPECT_EQ(system.Pauses()[0], 1000u);
  // The staged files are the data file's entries, byte for byte.
  EXPECT_EQ(recording.addedFiles,
            (std::map<std::u16string, std::vector<uint8_t>>{{u"readme.txt", Pattern(512, 6)},
                                                            {u"Setup.Cfg", Pattern(13, 7)}}));

  // The boot properties are set by id, each keeping its type; the others are left alone.
  using Seen = std::tuple<uint16_t, int64_t, std::u16string, bool, uint32_t>;
  std::map<uint32_t, Seen> seen;
  for (const auto& [id, p] : recording.writtenProperties)
    seen[id] = Seen{p.type, p.number, p.text, p.hadStream, p.firstNewId};
  EXPECT_EQ(seen, (std::map<uint32_t, Seen>{{4, {platform::kVtBool, 1, u"", false, 2}},
                                            {5, {platform::kVtBstr, 0, u"Talvo", false, 2}},
                                            {6, {platform::kVtUi1, 0, u"", false, 2}},
                                            {7, {platform::kVtUi1, 2, u"", false, 2}},
                                            {8, {platform::kVtStream, 0, u"", true, 2}}}));
  EXPECT_EQ(recording.writtenProperties[8].streamBytes, ExpectedImage())
      << "the boot image is the floppy image";
}

// Every step that fails stops the job at its stage with its message; the fault matrix
// checks that nothing is left held.
TEST_F(CdBurnerTest, EachFailedStepStopsAtItsStageWithItsMessage) {
  struct Case {
    bool imapi2;
    std::string failing;  // "" for the disc write's result below
    platform::HResult result;
    int32_t stage;
    std::string message;
    std::string trace;
  };
  const platform::HResult ok = platform::kSOk;
  const std::vector<Case> cases = {
      {false, "HasRecordableDrive", ok, 0, "T1039", ""},
      {false, "Open", ok, 0, "T1041", ""},
      {false, "QueryJoliet", ok, 1, "T1031", "Failed QueryInterface Joliet"},
      {false, "CreateTemporaryStorage#1", ok, 1, "T1031", "Failed Creating temp"},
      {false, "CreateStream:Setup.Cfg", ok, 1, "T1031", "Failed creating stream"},
      {false, "CreateTemporaryStorage#2", ok, 3, "T1031", "Failed Creating tempboot"},
      {false, "CreateStream:bootimg", ok, 3, "T1031", "Failed creating stream"},
      {false, "OpenStream:bootimg", ok, 3, "T1031", "Failed Opening BootStream"},
      {false, "GetJolietProperties", ok, 3, "T1031", "Failed GetJolietProperties"},
      {false, "Enum", ok, 3, "T1031", "Failed enumerating Joliet properties"},
      {false, "SetJolietProperties", ok, 3, "T1031", "Failed SetJolietProperties"},
      {false, "AddData", ok, 4, "T1031", "Failed AddData"},
      {false, "", platform::kSFalse, 6, "T1038", ""},
      {false, "", platform::kEFail, 6, "T1038", ""},
      {true, "CreateDiscMaster2", ok, 0, "T1038", ""},
      {true, "CreateRecorder2", ok, 1, "T1038", ""},
      {true, "InitializeDiscRecorder", ok, 1, "T1038", ""},
      {true, "CreateDataWriter2", ok, 2, "T1038", ""},
      {true, "PutClientName", ok, 2, "T1038", ""},
      {true, "CreateTemporaryStorage", ok, 2, "T1031", ""},
      {true, "CreateStream:iso", ok, 2, "T1031", ""},
      {true, "Write:iso", ok, 3, "T1031", ""},
      {true, "OpenStream:iso", ok, 4, "T1031", ""},
      {true, "", platform::kSFalse, 6, "T1038", ""},
      {true, "", platform::kEFail, 6, "T1038", ""},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE((failure.imapi2 ? "IMAPI2 " : "IMAPI ") + failure.failing);
    Fresh();
    if (!failure.failing.empty()) recording.failing = {failure.failing};
    recording.recordResult = recording.writeResult = failure.result;
    EXPECT_EQ(RunJob(failure.imapi2), std::vector<std::string>{failure.message});
    EXPECT_EQ(job.cdStage, failure.stage);
    const bool wrote = failure.failing.empty();
    if (failure.imapi2) {
      EXPECT_EQ(Logged("WriteDisc"), wrote);
      EXPECT_EQ(recording.ejected, wrote) << "a write that ran ejects, whatever its result";
    } else {
      EXPECT_EQ(Logged("RecordDisc real eject"), wrote);
      // A disc master that was made is closed, also after a failed Open.
      EXPECT_EQ(Logged("CloseMaster"), Logged("CreateDiscMaster"));
    }
    if (!failure.trace.empty()) {
      EXPECT_NE(system.TraceText().find("Error: " + failure.trace + " ("), std::string::npos);
    }
  }
}

TEST_F(CdBurnerTest, BothBurnersTakeTheRecorderAtTheChosenIndexOrNone) {
  recording.recorderPaths = {"\\Device\\CdRom0", "\\Device\\CdRom1"};
  EXPECT_EQ(RunJob(false, 1), kNone);
  EXPECT_EQ(recording.activeRecorder, "\\Device\\CdRom1");
  Fresh();
  EXPECT_EQ(RunJob(true, 1), kNone);
  EXPECT_TRUE(Logged("InitializeDiscRecorder recorder-1"));
  for (bool imapi2 : {false, true}) {
    for (int32_t index : {2, -1}) {
      SCOPED_TRACE(index);
      Fresh();
      EXPECT_EQ(RunJob(imapi2, index), std::vector<std::string>{"T1038"})
          << "the disc write fails by its own rule";
      EXPECT_EQ(recording.activeRecorder, "");
      EXPECT_EQ(Logged("NextRecorder"), imapi2 ? false : index >= 0);
    }
  }
}

TEST_F(CdBurnerTest, BothBurnersStageWhatTheFileListHolds) {
  std::vector<DatEntry> hundred = base;  // and no file's contents ever read as a name
  for (uint16_t i = 0; i < 100; ++i) {
    hundred.push_back({static_cast<uint16_t>(5000 + i), Bytes("f" + std::to_string(i))});
    if (i > 0)
      hundred.push_back({static_cast<uint16_t>(5100 + i), Pattern(i, static_cast<uint8_t>(i))});
  }
  std::vector<DatEntry> same = base, badName = base, orphan = base;
  same.insert(same.end(),
              {{5000, Bytes("same.txt")}, {5001, Bytes("same.txt")}, {5101, Pattern(13, 7)}});
  badName.insert(badName.end(), {{5000, Bytes("bad:name")}});
  orphan.insert(orphan.end(),
                {{5000, Bytes("readme.txt")}, {5001, Bytes("orphan.txt")}});  // no entry 5101
  struct Case {
    const char* name;
    std::vector<DatEntry> entries;
    bool imapi2;
    std::vector<std::string> boxes;
    size_t files;  // staged by the first burner
    std::u16string sample;
    std::vector<uint8_t> sampleBytes;
    int32_t stage;
  };
  const std::vector<Case> cases = {
      {"no file list", base, false, {}, 0, u"", {}, 6},
      {"two of one name: the second wins", same, false, {}, 1, u"same.txt", Pattern(13, 7), 6},
      {"a hundred files", hundred, false, {}, 100, u"f99", Pattern(99, 99), 6},
      {"a name the storage refuses", badName, false, {"T1031"}, 0, u"", {}, 1},
      {"a name without data", orphan, false, {"T1031"}, 0, u"", {}, 1},
      {"a name without data", orphan, true, {"T1031"}, 0, u"", {}, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.imapi2 ? " (IMAPI2)" : ""));
    Fresh();
    entries = c.entries;
    EXPECT_EQ(RunJob(c.imapi2), c.boxes);
    EXPECT_EQ(recording.addedFiles.size(), c.files);
    EXPECT_EQ(recording.addedFiles[c.sample], c.sampleBytes);
    EXPECT_EQ(recording.dataAdded, c.boxes.empty());
    EXPECT_EQ(recording.writtenProperties[8].hadStream, c.boxes.empty());
    EXPECT_EQ(job.cdStage, c.stage);
  }
}

TEST_F(CdBurnerTest, Imapi2BuildsTheImageAndWritesItInOnePiece) {
  entries.push_back({5002, Bytes("big.bin")});  // larger than the traditional buffer
  entries.push_back({5102, Pattern(2500000, 3)});
  EXPECT_EQ(RunJob(true), kNone);
  EXPECT_FALSE(Logged("CreateShellCdBurn")) << "the first burner is never called";
  ExpectStages({{"CoInitializeEx 2", 0},
                {"CreateDiscMaster2", 0},
                {"GetItem 0", 1},
                {"InitializeDiscRecorder recorder-0", 1},
                {"PutRecorder", 2},
                {"PutClientName ZidirUZUvuzuv", 2},
                {"CreateTemporaryStorage 0x1012", 2},
                {"CreateStream 1 iso 0x1011", 2},
                {"OpenStream 1 iso 0x10", 4},
                {"WriteDisc", 5},
                {"EjectMedia", 5},
                {"CoUninitialize", 6}});
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
  EXPECT_GT(iso.size(), image::kDefaultIsoBufferBytes);
  EXPECT_EQ(recording.burnedImage, iso);
}

}  // namespace
