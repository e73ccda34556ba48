// Both CD burners, the CD job thread and the recorder search against the scriptable disc
// recording service; the fault matrix checks that no failure leaves anything held.
#include "cd/CdBurner.h"
#include "cd/ImapiRecorderList.h"

#include <gtest/gtest.h>

#include "image/IsoImageBuilder.h"
#include "tests/fakes/FakeDiscRecording.h"
#include "tests/support/JobFixture.h"
#include "tests/support/TestFiles.h"

namespace {

using platform::kSFalse;
using platform::kSOk;
using testsupport::Bytes;
using testsupport::Pattern;
using Strings = std::vector<std::string>;

// The logged calls that hold `call`.
Strings Lines(const fakes::FakeDiscRecording& recording, const std::string& call) {
  Strings lines;
  for (const std::string& line : recording.Log())
    if (line.find(call) != std::string::npos) lines.push_back(line);
  return lines;
}

class CdBurnerTest : public testsupport::JobFixture {
 protected:
  // Entries: the texts, then (unless `list` is 0) a hundred files, the most the list takes.
  // readme.txt's data (5100) is the floppy's; big.bin is larger than a copy piece and than
  // the traditional image buffer. List 2 lacks the data of its last file.
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

  // Runs one job from a fresh fake with recorder `recorder` chosen; gives the texts of the
  // error boxes it showed.
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
    cd::CdJobServices services;
    services.job = &job;
    services.system = &system;
    services.recording = &recording;
    services.dialog = &dialog;
    cd::CdBurnThread(services);
    Strings texts;
    for (const auto& box : dialog.Boxes()) {
      EXPECT_FALSE(box.owned);
      EXPECT_EQ(box.type, platform::kMbIconError);
      EXPECT_EQ(box.caption, "T1006");
      texts.push_back(box.text);
    }
    EXPECT_EQ(job.jobFailed, texts.empty() ? 0 : 1);
    return texts;
  }
  Strings Lines(const std::string& call) const { return ::Lines(recording, call); }
  // Each call, logged as "<stage> <call>", was made once at that stage.
  void ExpectStages(const Strings& calls) {
    for (const std::string& call : calls) EXPECT_EQ(Lines(call).size(), 1u) << call;
  }

  fakes::FakeDiscRecording recording;
};

TEST_F(CdBurnerTest, ImapiStagesTheFilesAndTheBootImageThenWritesTheDisc) {
  EXPECT_EQ(RunJob(false), Strings());
  EXPECT_EQ(job.cdStage, 6);
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
  EXPECT_EQ(Lines("WriteMultiple"),
            (Strings{"3 WriteMultiple 4 11 1  2", "3 WriteMultiple 5 8 0 Talvo 2",
                     "3 WriteMultiple 6 17 0  2", "3 WriteMultiple 7 17 2  2",
                     "3 WriteMultiple 8 66 0  stream 2"}));
  EXPECT_EQ(recording.bootImage, ExpectedImage()) << "the boot image is the floppy image";
}

TEST_F(CdBurnerTest, Imapi2BuildsTheImageAndWritesItInOnePiece) {
  EXPECT_EQ(RunJob(true), Strings());
  EXPECT_EQ(Lines("CreateShellCdBurn"), Strings()) << "the first burner is never called";
  ExpectStages({"0 CoInitializeEx 2", "0 CreateDiscMaster2", "1 GetItem 1",
                "1 InitializeDiscRecorder recorder-1", "2 PutRecorder",
                "2 PutClientName ZidirUZUvuzuv", "2 CreateTemporaryStorage 0x1012",
                "2 CreateStream iso 1 0x1011", "4 OpenStream iso 1 0x10", "5 WriteDisc",
                "5 EjectMedia", "6 CoUninitialize"});
  EXPECT_EQ(Lines("Write iso").size(), 1u) << "the image goes into the stream in one call";
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

// Every failed step stops the job at its stage with its message and trace. A recorder
// index past the list or none (-1) holds no recorder, and the disc write fails; no file
// list (list 0) burns; a file without data (list 2) fails.
TEST_F(CdBurnerTest, EachFailedStepStopsAtItsStageWithItsMessage) {
  const struct {
    bool imapi2;
    const char* failing;
    platform::HResult result;
    int32_t recorder, list, stage;
    const char *message, *trace;
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE((c.imapi2 ? "IMAPI2 " : "IMAPI ") + std::string(c.failing) + " recorder " +
                 std::to_string(c.recorder) + " list " + std::to_string(c.list));
    EXPECT_EQ(RunJob(c.imapi2, c.recorder, c.failing, c.result, c.list),
              *c.message != '\0' ? Strings{c.message} : Strings());
    EXPECT_EQ(job.cdStage, c.stage);
    const size_t wrote = c.stage == 6 ? 1 : 0;
    if (c.imapi2) {
      EXPECT_EQ(Lines("WriteDisc").size(), wrote);
      EXPECT_EQ(Lines("EjectMedia").size(), wrote)
          << "a write that ran ejects, whatever its result";
    } else {
      EXPECT_EQ(Lines("RecordDisc real eject").size(), wrote);
      // A disc master that was made is closed, also after a failed Open.
      EXPECT_EQ(Lines("CloseMaster").size(), Lines("CreateDiscMaster").size());
      EXPECT_EQ(recording.addedFiles.size(), wrote * 100 * c.list);
    }
    const std::string trace = std::string("Error: ") + c.trace + " (";
    EXPECT_EQ(system.TraceText().find(trace) != std::string::npos, *c.trace != '\0');
  }
}

// Recorders take the letter whose first target is their device path, exactly; a recorder
// without a path is counted without a letter; past twenty-six none overflows the letters.
// Without a drive, shell object or open disc master nothing is found or left held.
TEST(RecorderListTest, RecordersTakeTheLetterWhoseTargetIsTheirDevicePath) {
  fakes::FakeDiscRecording recording;
  const auto letters = [&recording](int found, int last) {
    cd::ImapiRecorderList list(recording);
    EXPECT_EQ(list.FindRecorders(), found);
    EXPECT_EQ(recording.LiveObjects(), 0);
    std::vector<char> atPositions;
    for (int i = -1; i <= last; ++i) atPositions.push_back(list.LetterAt(i));
    return atPositions;
  };
  recording.recorderPaths.clear();
  for (int i = 0; i < 30; ++i)
    recording.recorderPaths.push_back("\\Device\\CdRom" + std::to_string(i));
  recording.dosDevices = {{"C:", "\\Device\\HarddiskVolume1"},
                          {"E:", std::string("\\Device\\CdRom0\0x", 16)},
                          {"F:", "\\Device\\CdRom2"},
                          {"G:", "\\Device\\CdRom2"},  // a second letter for the same device
                          {"H:", "\\device\\cdrom3"},  // differs only in case
                          {"I:", "\\Device\\CdRom4-with-a-long-target"},  // over 20 bytes
                          {"Y:", "\\Device\\CdRom25"},
                          {"Z:", "\\Device\\CdRom1"}};
  EXPECT_EQ(letters(26, 5), (std::vector<char>{0, 'E', 'Z', 'F', 0, 0, 0}));
  EXPECT_EQ(Lines(recording, "CloseRecorder").size(), 26u) << "each closed before its release";
  EXPECT_EQ(letters(26, 26).back(), 0);
  EXPECT_EQ(letters(26, 25).back(), 'Y');
  recording.failing = {"GetPath"};
  EXPECT_EQ(letters(26, 0), (std::vector<char>{0, 0}));

  recording.Reset();
  recording.hasRecordableDrive = false;
  cd::ImapiRecorderList list(recording);
  EXPECT_EQ(list.FindRecorders(), 0);
  EXPECT_EQ(Lines(recording, "CreateDiscMaster").size(), 0u);
  EXPECT_EQ(recording.ComDepth(), 1) << "only the list's own initialisation remains";
  recording.hasRecordableDrive = true;
  for (const char* failing : {"CreateShellCdBurn", "Open"}) {
    recording.failing = {failing};
    EXPECT_EQ(list.FindRecorders(), 0) << failing;
  }
  EXPECT_EQ(Lines(recording, "CloseMaster").size(), 1u) << "closed after a failed Open";
  EXPECT_EQ(recording.LiveObjects(), 0);
}

}  // namespace
