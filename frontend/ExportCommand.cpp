#include "frontend/ExportCommand.h"

#include <memory>

#include "InstallerVersion.h"
#include "datafile/DataFile.h"
#include "frontend/ExportOutput.h"
#include "image/FloppyImageAssembler.h"
#include "image/FloppyLayout.h"
#include "image/IsoImageBuilder.h"

namespace frontend {

namespace {

const char kUsage[] =
    "usage: installer-export make-floppy-image --data DAT --out IMG [--quiet]\n"
    "       installer-export make-iso --data DAT --out ISO [--quiet]\n"
    "       installer-export --help | --version\n"
    "  make-floppy-image  the 1.44 MB floppy image that Create Floppy writes\n"
    "  make-iso           the bootable CD image that Create CD-ROM burns\n"
    "  --out -            write the image to standard output (trace lines go to standard error)\n"
    "  --quiet            leave out the image builders' trace lines\n";

/// What the command line asks for besides an image.
enum class Request { kExport, kHelp, kVersion };

struct Options {
  Request request = Request::kExport;
  std::string command;
  std::string data;
  std::string out;
  bool quiet = false;
};

// Forwards to the real system but keeps the trace lines to itself when asked.
class ExportSystem : public platform::System {
 public:
  ExportSystem(platform::System& inner, bool quiet, std::string* out)
      : inner_(inner), quiet_(quiet), out_(out) {}
  bool GetVersion(platform::VersionInfo* version) override { return inner_.GetVersion(version); }
  uint32_t DriveType(const std::string& rootPath) override { return inner_.DriveType(rootPath); }
  void Pause(uint32_t milliseconds) override { inner_.Pause(milliseconds); }
  platform::UtcTime UtcNow() override { return inner_.UtcNow(); }
  bool AllowAllocation(size_t bytes) override { return inner_.AllowAllocation(bytes); }
  void Trace(const std::string& text) override {
    if (!quiet_) out_->append(text);
  }
  void* AllocatePages(size_t bytes) override { return inner_.AllocatePages(bytes); }
  void FreePages(void* pages) override { inner_.FreePages(pages); }
  void SetCurrentThreadPriority(int priority) override {
    inner_.SetCurrentThreadPriority(priority);
  }
  bool StartThread(std::function<void()> body) override {
    return inner_.StartThread(std::move(body));
  }
  void ExitProcess(uint32_t code) override { inner_.ExitProcess(code); }

 private:
  platform::System& inner_;
  bool quiet_;
  std::string* out_;
};

// Help and version may stand in the command's place or among the flags.
bool TakeRequest(const std::string& word, Options* options) {
  if (word == "--help" || word == "-h") {
    options->request = Request::kHelp;
  } else if (word == "--version") {
    options->request = Request::kVersion;
  }
  return options->request != Request::kExport;
}

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  if (args.empty()) {
    *error = "no command given";
    return false;
  }
  options->command = args[0];
  if (TakeRequest(args[0], options)) return true;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& flag = args[i];
    if (TakeRequest(flag, options)) return true;
    if (flag == "--quiet") {
      options->quiet = true;
    } else if ((flag == "--data" || flag == "--out") && i + 1 < args.size()) {
      (flag == "--data" ? options->data : options->out) = args[++i];
    } else {
      *error = "cannot understand '" + flag + "'";
      return false;
    }
  }
  if (options->command != "make-floppy-image" && options->command != "make-iso") {
    *error = "unknown command '" + options->command + "'";
    return false;
  }
  if (options->data.empty() || options->out.empty()) {
    *error = "--data and --out are both required";
    return false;
  }
  return true;
}

std::string OpenFailure(const std::string& path, datafile::DataFileError code) {
  using datafile::DataFileError;
  switch (code) {
    case DataFileError::BadHandle:
      return "cannot open the data file '" + path + "' (missing or not readable)";
    case DataFileError::Io:
      return "'" + path + "' is too short to be an install data file";
    case DataFileError::BadMagic:
      return "'" + path + "' is not an install data file (its magic number is wrong)";
    case DataFileError::BadVersion:
      return "'" + path + "' is of a newer format version than this program reads";
    default:
      return "cannot read the data file '" + path + "'";
  }
}

std::string FloppyFailure(int status, const image::FloppyAssemblyReport& report) {
  const std::string prefix =
      "the floppy image is incomplete (status " + std::to_string(status) + "): ";
  switch (status) {
    case image::kFloppyBadBaseImage:
      return prefix + "the base image (entry 10002) is " + std::to_string(report.baseImageBytes) +
             " bytes; it must be a whole number of 512-byte sectors and reach at least through "
             "the root directory (16896 bytes)";
    case image::kFloppyTooLarge:
      return prefix + "the base image and the two files need " +
             std::to_string(report.sectorsUsed) + " sectors, more than the 2880 of a floppy";
    case image::kFloppyEntryUnreadable:
      return prefix + "entry " + std::to_string(report.failedEntryId) +
             " is missing from the data file or cannot be read whole";
    case image::kFloppyRootDirectoryFull:
      return prefix +
             "the base image's root directory has no free entry for KERNEL.MAP and "
             "README.TXT";
    default:
      return prefix + "no image buffer";
  }
}

std::string IsoFailure(int status, const image::IsoBuildReport& report) {
  const std::string prefix =
      "the CD image cannot be built (status " + std::to_string(status) + "): ";
  const std::string file =
      "file " + std::to_string(report.failedFile) + " ('" + report.failedName + "')";
  switch (status) {
    case image::kIsoFileUnreadable:
      return prefix + file + " has no data entry " + std::to_string(5100 + report.failedFile) +
             " in the data file, or it cannot be read whole";
    case image::kIsoNameTooLong:
      return prefix + "the name of " + file + " has " + std::to_string(report.failedName.size()) +
             " characters; a Joliet name can have at most " +
             std::to_string(image::kLongestJolietName);
    case image::kIsoBootImageFailed:
      return prefix + "the boot floppy image is incomplete (floppy status " +
             std::to_string(report.floppyStatus) + "; make-floppy-image tells why)";
    case image::kIsoTooLarge:
      return prefix + "the files make an image of 4 GB or more";
    case image::kIsoNoMemory:
      return prefix + "not enough memory";
    default:
      return prefix + "the image buffer is too small";
  }
}

int ExportFloppy(datafile::DataFile* dataFile, platform::FileSystem& files,
                 platform::System& system, const Options& options, std::string* err) {
  std::unique_ptr<uint8_t[]> floppy =
      platform::AllocateArray<uint8_t>(system, image::kFloppyImageBytes);
  if (!floppy) {
    *err += "installer-export: not enough memory for the floppy image\n";
    return 1;
  }
  image::FloppyAssemblyReport report;
  const int status = image::AssembleFloppyImage(floppy.get(), dataFile, system, &report);
  if (!image::FloppyImageIsComplete(status, report)) {
    *err += "installer-export: " + FloppyFailure(status, report) + "\n";
    return 1;
  }
  ImageOutput output(files, system, options.out);
  if (!output.Open() || !output.Write(floppy.get(), image::kFloppyImageBytes) || !output.Finish()) {
    *err += "installer-export: " + output.error() + "\n";
    return 1;
  }
  return 0;
}

// The image goes to the output sector by sector as it is made: only the plan, the boot
// image and a few buffers are ever in memory.
int ExportIso(datafile::DataFile* dataFile, platform::FileSystem& files, platform::System& system,
              const Options& options, std::string* err) {
  image::IsoPlan plan;
  image::IsoBuildReport report;
  int status = image::PlanIsoImage(dataFile, system, &plan, &report);
  ImageOutput output(files, system, options.out);
  if (status == image::kIsoBuilt) {
    if (!output.Open()) {
      *err += "installer-export: " + output.error() + "\n";
      return 1;
    }
    status = image::WriteIsoImage(plan, output, dataFile, system, &report);
  }
  if (status != image::kIsoBuilt) {
    *err += "installer-export: " +
            (status == image::kIsoSinkFailed ? output.error() : IsoFailure(status, report)) + "\n";
    return 1;
  }
  if (!output.Finish()) {
    *err += "installer-export: " + output.error() + "\n";
    return 1;
  }
  if (plan.Cut()) {
    *err += "installer-export: warning: the root directory holds only " +
            std::to_string(plan.files.size()) + " of the " + std::to_string(plan.namedFiles) +
            " files the data file names\n";
  }
  return 0;
}

}  // namespace

int RunExport(const std::vector<std::string>& args, platform::FileSystem& files,
              platform::System& system, std::string* out, std::string* err) {
  Options options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    *err += "installer-export: " + error + "\n" + kUsage;
    return 2;
  }
  if (options.request == Request::kHelp) {
    *out += kUsage;
    return 0;
  }
  if (options.request == Request::kVersion) {
    *out += std::string("installer-export (") + INSTALLER_PRODUCT_NAME + ") " + INSTALLER_VERSION +
            "\n";
    return 0;
  }
  // Checked before anything is built or created: a device, pipe or directory under the
  // output's name must never be replaced by an image file.
  const std::string refusal = RefuseOutput(files, options.out);
  if (!refusal.empty()) {
    *err += "installer-export: " + refusal + "\n";
    return 1;
  }
  // With the image on standard output, the trace lines must not mix with its bytes.
  ExportSystem exportSystem(system, options.quiet, options.out == kStandardOutputName ? err : out);
  datafile::DataFileServices services;
  services.files = &files;
  services.system = &exportSystem;
  // Nothing runs beside the exporter, so the lookups need no pause to order them.
  services.lookupPause = false;
  datafile::TakeDataFileError();
  std::unique_ptr<datafile::DataFile> dataFile = datafile::OpenDataFile(services, options.data);
  const datafile::DataFileError openError = datafile::TakeDataFileError();
  if (!dataFile) {
    *err += "installer-export: " + OpenFailure(options.data, openError) + "\n";
    return 1;
  }

  return options.command == "make-iso"
             ? ExportIso(dataFile.get(), files, exportSystem, options, err)
             : ExportFloppy(dataFile.get(), files, exportSystem, options, err);
}

}  // namespace frontend
