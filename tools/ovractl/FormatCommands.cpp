#include "FormatCommands.h"

#include "Output.h"
#include "ValueText.h"

#include <Ovra/ResultCodes.h>
#include <Ovra/StorageFormatter.h>
#include <Ovra/StorageLogicalDrive.h>

#include <deque>
#include <iostream>
#include <memory>

namespace ovractl {

using Ovra::StorageFormatter;

namespace {

struct FormatOptions {
    std::string root;
    std::string fileSystem;
    std::string label;
    bool quick = false;
    unsigned int cluster = 0;
    bool yes = false;
    bool json = false;
};

// Draws the formatting library's progress and remembers how the format ended.
class ProgressPrinter : public Ovra::StorageFormatterObserver {
public:
    explicit ProgressPrinter(const std::string& root) : m_bar("formatting " + root) {}
    void OnFormatEvent(int event, int value) override {
        switch (event) {
            case 1:
                m_bar.Show(static_cast<unsigned int>(value));
                break;
            case 2:
                m_outcome = 2;
                break;
            case 3:
                m_outcome = 3;
                break;
            case 0:
                m_bar.Finish(m_outcome == 2 ? "done" : "FAILED");
                break;
            default:
                break;
        }
    }
    bool Succeeded() const { return m_outcome == 2; }

private:
    ProgressBar m_bar;
    int m_outcome = 0;
};

int CmdFileSystems(bool json) {
    StorageFormatter formatter;
    std::deque<int> codes;
    const int rc = formatter.GetUsableFileSystem(codes);
    if (rc)
        return Fail("cannot list file systems",
                    "the formatting library (fmifs.dll) is not available", rc);
    Table table({"code", "file system"});
    for (int code : codes) {
        std::wstring name;
        const std::string text = StorageFormatter::GetFsName(code, name) ? Utf8(name) : "(other)";
        table.Add({std::to_string(code), text},
                  nlohmann::json{{"code", code}, {"fileSystem", text}});
    }
    table.Print(json);
    return 0;
}

bool ValidCluster(unsigned int size) {
    if (size == 0) return true;
    for (unsigned int s = 512; s <= 65536; s *= 2) {
        if (s == size) return true;
    }
    return false;
}

int CmdFormat(const FormatOptions& o) {
    const int code = StorageFormatter::GetFileSystem(Wide(o.fileSystem));
    if (code == 0)
        return Fail("unknown file system", "'" + o.fileSystem + "' (FAT, FAT32, NTFS, Ext3, UDFS)",
                    kBadInput);
    if (!ValidCluster(o.cluster))
        return Fail("bad cluster size",
                    std::to_string(o.cluster) + " (0 or 512..65536, a power of two)", kBadInput);
    if (!o.yes) {
        std::cerr << "Format " << o.root << " as " << o.fileSystem
                  << "? Everything on it is lost. Type 'yes' to go on: " << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer) || answer != "yes")
            return Fail("format cancelled", o.root, kCancelled);
    }
    StorageFormatter formatter;
    ProgressPrinter printer(o.root);
    StorageFormatter::SetObserver(&printer);
    const int rc = formatter.Format(Wide(o.root), code, Wide(o.label), o.quick ? 1 : 0,
                                    static_cast<StorageFormatter::ClusterSize>(o.cluster));
    StorageFormatter::SetObserver(nullptr);
    if (rc) return Fail("cannot format " + o.root, LibraryCodeText(rc), rc);
    if (!printer.Succeeded())
        return Fail("format of " + o.root + " failed", "reported by the formatting library",
                    Ovra::result::kSystemFailed);
    return 0;
}

int CmdLabel(const FormatOptions& o) {
    Ovra::StorageLogicalDrive volumes(1);
    const int rc = volumes.SetDriveName(Wide(o.root), Wide(o.label).c_str());
    if (rc)
        return Fail("cannot label " + o.root,
                    rc == Ovra::result::kNotFound ? "no such volume" : LibraryCodeText(rc), rc);
    return 0;
}

}  // namespace

void AddFormatCommands(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<FormatOptions>();
    CLI::App* fs = app.add_subcommand("fs", "File systems that can be formatted");
    fs->add_flag("--json", options->json, "Print JSON lines");
    fs->callback([&exitCode, options] { exitCode = CmdFileSystems(options->json); });

    CLI::App* format = app.add_subcommand("format", "Format a volume");
    format->add_option("root", options->root, "Root path, such as E:\\ or /mnt/rec1/")->required();
    format
        ->add_option("--fs", options->fileSystem,
                     "FAT, FAT32, NTFS, Ext3, UDFS; on Linux also ext4, xfs, btrfs")
        ->required();
    format->add_option("--label", options->label, "Volume label");
    format->add_flag("--quick", options->quick, "Quick format");
    format->add_option("--cluster", options->cluster, "Cluster size in bytes (0: default)");
    format->add_flag("--yes,-y", options->yes, "Do not ask for confirmation");
    format->callback([&exitCode, options] { exitCode = CmdFormat(*options); });

    CLI::App* label = app.add_subcommand("label", "Change a volume's label");
    label->add_option("root", options->root, "Root path, such as E:\\ or /mnt/rec1/")->required();
    label->add_option("label", options->label, "New label")->required();
    label->callback([&exitCode, options] { exitCode = CmdLabel(*options); });
}

}  // namespace ovractl
