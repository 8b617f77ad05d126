// CReportFile: the text file of one device report: the folder made when
// missing, lines ended by "\n", and whether the current line is still open.
// The report is written beside its name and takes the name only when it is
// closed whole, so a failed write leaves the earlier report of that name.
#pragma once

#include <cstdio>
#include <string>

// File access results of the report writer.
enum ReportFileResult {
    REPORT_OPEN_FAILED = 0x9500,
    REPORT_BAD_PATH = 0x9503,   // folder or name missing, or the path too long
    REPORT_NOT_FOLDER = 0x9505, // part of the folder exists but is no folder
    REPORT_NO_FOLDER = 0x9506,  // a folder could not be created
    REPORT_WRITE_FAILED = 0x9510,
};

// A name as one file name inside the chosen folder: separators and control
// characters become '_'; "." and ".." become empty.
std::string SafeFileName(const std::string& name);

class CReportFile {
public:
    // Folder, separator and name together at most this long.
    static constexpr size_t kPathMax = 258;

    CReportFile() = default;
    ~CReportFile();
    CReportFile(const CReportFile&) = delete;
    CReportFile& operator=(const CReportFile&) = delete;

    // Creates each missing folder of `folder` in turn and opens a file for
    // the report `name` in it; 0 or a ReportFileResult (REPORT_OPEN_FAILED
    // when `name` is taken by anything but a file that may be rewritten).
    int Open(const std::string& folder, const std::string& name);
    const std::string& Path() const { return m_path; }

    // 0 or REPORT_WRITE_FAILED; after a failure the report is not kept.
    int Write(const std::string& text);
    int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Ends a line left open, so that the next key starts its own line.
    int EndLine() { return m_lineOpen ? Write("\n") : 0; }
    // Flushes to the disk, closes and puts the report in place of any
    // earlier one of its name; 0, or REPORT_WRITE_FAILED with the earlier
    // report left as it was and nothing of this one.
    int Close();

private:
    // Closes a report still open and removes what was written of it.
    void Discard();

    std::FILE* m_file = nullptr;
    std::string m_path;    // the report's name
    std::string m_writing; // the file written until Close
    bool m_lineOpen = false;
};

// The folder the report dialogs offer first: the user's home folder.
std::string DefaultReportFolder();
