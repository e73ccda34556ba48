// Both CD burners, the CD job thread and the recorder search against the fake disc service.
#include "cd/CdBurner.h"
#include "cd/ImapiRecorderList.h"

#include <gtest/gtest.h>

#include <tuple>

#include "image/IsoImageBuilder.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"

namespace {

using platform::kSFalse;
using platform::kSOk;
using testsupport::Bytes;
using testsupport::Pattern;
using Strings = std::vector<std::string>;

class CdBurnerTest : public testsupport::JobFixture {
 protected:
  // Texts and 100 files (the most; big.bin > the image buffer); list 2: last lacks data; 0: none.
  std::vector<mkinstalldat::DatEntry> Entries(int list) {
    std::vector<mkinstalldat::DatEntry> entries = testsupport::JobEntries(5);
    for (uint16_t id : {1031, 1039, 1041}) entries.push_back({id, Bytes("T" + std::to_string(id))});
    for (uint16_t i = 0; list > 0 && i < 100; ++i) {
      entries.push_back({static_cast<uint16_t>(5000 + i), Bytes(Name(i))});
      if (i > 0 && (list == 1 || i < 99)) entries.push_back({uint16_t(5100 + i), Data(i)});
    }
    return entries;
  }
  static std::string Name(uint16_t i) {
    return i < 3 ? std::vector<std::string>{"readme.txt", "Setup.Cfg", "big.bin"}[i]
                 : "f" + std::to_string(i);
  }
  static std::vector<uint8_t> Data(uint16_t i) {
    return i == 0 ? Pattern(512, 6) : i == 2 ? Pattern(2500000, 3) : Pattern(i * 7 + 6, uint8_t(i));
  }
  // One job from a fresh fake with `recorder` chosen: the texts of the error boxes shown.
  Strings RunJob(bool imapi2, int32_t recorder = 1, const std::string& failing = "",
                 platform::HResult result = kSOk, int list = 1) {
    recording.Reset();
    dialog.Reset();
    recording.stageWatch = &job.cdStage;
    recording.recorderPaths = {"\\Device\\CdRom0", "\\Device\\CdRom1"};
    if (!failing.empty()) recording.failing = {failing};
    recording.recordResult = recording.writeResult = result;
    UseEntries(Entries(list));
    job.useImapi2 = imapi2 ? 1 : 0;
    job.selectedRecorder = recorder;
    job.cdStage = 0;
    cd::CdBurnThread({&job, &system, &recording, &dialog});
    Strings texts;
    for (const auto& box : dialog.Boxes()) {
      EXPECT_EQ(std::tie(box.owned, box.type, box.caption),
                std::make_tuple(false, platform::kMbIconError, std::string("T1006")));
      texts.push_back(box.text);
    }
    EXPECT_EQ(job.jobFailed, texts.empty() ? 0 : 1);
    return texts;
  }
  // Each call ("<stage> <call>") was made once, at that stage.
  void ExpectStages(const Strings& calls) {
    for (const std::string& call : calls) EXPECT_EQ(recording.Lines(call).size(), 1u) << call;
  }
  fakes::FakeDiscRecording recording;
};

// IMAPI stages the files and the boot image; IMAPI2 builds the image and writes it whole.
TEST_F(CdBurnerTest, EachBurnerWritesTheDiscOrStopsAtTheFailedStage) {
  EXPECT_EQ(RunJob(false), Strings());
  ExpectStages({"0 CoInitialize", "0 HasRecordableDrive", "0 Open", "0 EnumFormats 2",
                "0 SetActiveDiscRecorder \\Device\\CdRom1", "0 QueryJoliet",
                "1 CreateTemporaryStorage 0x1012", "1 CreateStream readme.txt 1 0x1011",
                "3 CreateStream bootimg 2 0x1011", "3 Write bootimg 1474560",
                "3 OpenStream bootimg 2 0x10", "3 SetJolietProperties", "4 AddData 1",
                "5 RecordDisc real eject", "6 CloseMaster", "6 CloseRecorder \\Device\\CdRom1",
                "6 CoUninitialize"});
  EXPECT_EQ(system.Pauses()[0], 1000u);
  EXPECT_EQ(recording.addedFiles.size(), 100u);
  for (uint16_t i : {0, 1, 2, 99}) EXPECT_EQ(recording.addedFiles[Name(i)], Data(i)) << i;
  // The boot properties are set by id, each keeping its type; property 9 is left alone.
  EXPECT_EQ(recording.Lines("WriteMultiple"),
            (Strings{"3 WriteMultiple 4 11 1  2", "3 WriteMultiple 5 8 0 Talvo 2",
                     "3 WriteMultiple 6 17 0  2", "3 WriteMultiple 7 17 2  2",
                     "3 WriteMultiple 8 66 0  stream 2"}));
  EXPECT_EQ(recording.bootImage, ExpectedImage()) << "the boot image is the floppy image";
  EXPECT_EQ(RunJob(true), Strings());
  EXPECT_EQ(recording.Lines("CreateShellCdBurn"), Strings()) << "the first burner is never called";
  ExpectStages({"0 CoInitializeEx 2", "0 CreateDiscMaster2", "1 GetItem 1",
                "1 InitializeDiscRecorder recorder-1", "2 PutRecorder",
                "2 PutClientName ZidirUZUvuzuv", "2 CreateTemporaryStorage 0x1012",
                "2 CreateStream iso 1 0x1011", "4 OpenStream iso 1 0x10", "5 WriteDisc",
                "5 EjectMedia", "6 CoUninitialize"});
  // In one piece, exactly the image the builder makes (larger than the default buffer).
  EXPECT_EQ(recording.Lines("Write iso").size(), 1u);
  image::IsoPlan plan;
  ASSERT_EQ(image::PlanIsoImage(dataFile.get(), system, &plan), image::kIsoBuilt);
  std::vector<uint8_t> iso(plan.ImageBytes());
  uint32_t length = 0;
  ASSERT_EQ(image::WriteIsoImage(plan, iso.data(), iso.size(), &length, dataFile.get(), system),
            image::kIsoBuilt);
  EXPECT_GT(iso.size(), image::kDefaultIsoBufferBytes);
  EXPECT_EQ(recording.burnedImage, iso);
  // Failures stop at their stage: IMAPI2?, failing call, write result, recorder, list, stage, text.
  const std::tuple<bool, const char*, int32_t, int, int, int, const char*, const char*> cases[] = {
      {false, "HasRecordableDrive", kSOk, 1, 1, 0, "T1039", ""},
      {false, "Open", kSOk, 1, 1, 0, "T1041", ""},
      {false, "QueryJoliet", kSOk, 1, 1, 1, "T1031", "Failed QueryInterface Joliet"},
      {false, "CreateTemporaryStorage#1", kSOk, 1, 1, 1, "T1031", "Failed Creating temp"},
      {false, "CreateStream:Setup.Cfg", kSOk, 1, 1, 1, "T1031", "Failed creating stream"},
      {false, "", kSOk, 1, 2, 1, "T1031", "Failed locating file data"},
      {false, "CreateTemporaryStorage#2", kSOk, 1, 1, 3, "T1031", "Failed Creating tempboot"},
      {false, "CreateStream:bootimg", kSOk, 1, 1, 3, "T1031", "Failed creating stream"},
      {false, "OpenStream:bootimg", kSOk, 1, 1, 3, "T1031", "Failed Opening BootStream"},
      {false, "GetJolietProperties", kSOk, 1, 1, 3, "T1031", "Failed GetJolietProperties"},
      {false, "Enum", kSOk, 1, 1, 3, "T1031", "Failed enumerating Joliet properties"},
      {false, "SetJolietProperties", kSOk, 1, 1, 3, "T1031", "Failed SetJolietProperties"},
      {false, "AddData", kSOk, 1, 1, 4, "T1031", "Failed AddData"},
      {false, "", kSFalse, 1, 1, 6, "T1038", ""},
      {false, "", kSOk, 2, 1, 6, "T1038", ""},
      {false, "", kSOk, -1, 1, 6, "T1038", ""},
      {false, "", kSOk, 1, 0, 6, "", ""},
      {true, "CreateDiscMaster2", kSOk, 1, 1, 0, "T1038", ""},
      {true, "InitializeDiscRecorder", kSOk, 1, 1, 1, "T1038", ""},
      {true, "PutClientName", kSOk, 1, 1, 2, "T1038", ""},
      {true, "CreateStream:iso", kSOk, 1, 1, 2, "T1031", ""},
      {true, "Write:iso", kSOk, 1, 1, 3, "T1031", ""},
      {true, "", kSOk, 1, 2, 3, "T1031", ""},
      {true, "OpenStream:iso", kSOk, 1, 1, 4, "T1031", ""},
      {true, "", kSFalse, 1, 1, 6, "T1038", ""},
      {true, "", kSOk, 2, 1, 1, "T1038", ""},
      {true, "", kSOk, -1, 1, 1, "T1038", ""}};
  for (const auto& [imapi2, failing, result, recorder, list, stage, message, trace] : cases) {
    SCOPED_TRACE(std::string(imapi2 ? "IMAPI2 " : "IMAPI ") + failing + " " +
                 std::to_string(recorder) + " list " + std::to_string(list));
    EXPECT_EQ(RunJob(imapi2, recorder, failing, result, list),
              *message != '\0' ? Strings{message} : Strings());
    EXPECT_EQ(job.cdStage, stage);
    const size_t wrote = stage == 6 ? 1 : 0;  // a write that ran ejects, whatever its result
    EXPECT_EQ(recording.Lines(imapi2 ? "WriteDisc" : "RecordDisc real eject").size(), wrote);
    EXPECT_EQ(recording.Lines("EjectMedia").size(), imapi2 ? wrote : 0);
    // A disc master that was made is closed, also after a failed Open.
    EXPECT_EQ(recording.Lines("CloseMaster").size(),
              imapi2 ? 0 : recording.Lines("CreateDiscMaster").size());
    EXPECT_EQ(recording.addedFiles.size(), imapi2 ? 0 : wrote * 100 * list);
    EXPECT_EQ(system.TraceText().find(std::string("Error: ") + trace + " (") != std::string::npos,
              *trace != '\0');
  }
}

// Letters go to the exact first target; searches release all, close all, restore COM.
TEST(RecorderListTest, RecordersTakeTheLetterWhoseTargetIsTheirDevicePath) {
  fakes::FakeDiscRecording recording;
  cd::ImapiRecorderList list(recording);
  const auto letters = [&](int found, int last) {
    EXPECT_EQ(list.FindRecorders(), found);
    EXPECT_EQ(recording.LiveObjects(), 0);
    EXPECT_EQ(recording.ComDepth(), 1) << "only the list's own initialisation remains";
    EXPECT_EQ(recording.Lines("CloseMaster").size(), recording.Lines("CreateDiscMaster").size());
    std::vector<char> atPositions;
    for (int i = -1; i <= last; ++i) atPositions.push_back(list.LetterAt(i));
    return atPositions;
  };
  recording.recorderPaths.assign(30, "\\Device\\CdRom");
  for (size_t i = 0; i < 30; ++i) recording.recorderPaths[i] += std::to_string(i);
  // G: is a second letter for CdRom2, H: differs only in case, I: is over 20 bytes.
  recording.dosDevices = {
      {"C:", "\\Device\\HarddiskVolume1"}, {"E:", std::string("\\Device\\CdRom0\0x", 16)},
      {"F:", "\\Device\\CdRom2"},          {"G:", "\\Device\\CdRom2"},
      {"H:", "\\device\\cdrom3"},          {"I:", "\\Device\\CdRom4-with-a-long-target"},
      {"Y:", "\\Device\\CdRom25"},         {"Z:", "\\Device\\CdRom1"}};
  EXPECT_EQ(letters(26, 5), (std::vector<char>{0, 'E', 'Z', 'F', 0, 0, 0}));
  EXPECT_EQ(recording.Lines("CloseRecorder").size(), 26u);
  EXPECT_EQ(letters(26, 26).back(), 0);
  EXPECT_EQ(letters(26, 25).back(), 'Y');
  recording.failing = {"GetPath"};
  EXPECT_EQ(letters(26, 0), (std::vector<char>{0, 0}));
  recording.hasRecordableDrive = false;
  const size_t masters = recording.Lines("CreateDiscMaster").size();
  for (const char* failing : {"", "CreateShellCdBurn", "Open"}) {
    recording.failing = {failing};
    EXPECT_EQ(letters(0, -1), std::vector<char>{0}) << failing;
    recording.hasRecordableDrive = true;
  }
  EXPECT_EQ(recording.Lines("CreateDiscMaster").size(), masters + 1) << "none without a drive";
}
}  // namespace
