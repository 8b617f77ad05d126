// CReportFile: the text file of one device report: the folder made when
// missing, lines ended by "\n", and whether the current line is still open.
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

    // Creates each missing folder of `folder` in turn and opens the file
    // `name` in it for writing; 0 or a ReportFileResult.
    int Open(const std::string& folder, const std::string& name);
    const std::string& Path() const { return m_path; }

    // 0 or REPORT_WRITE_FAILED.
    int Write(const std::string& text);
    int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Ends a line left open, so that the next key starts its own line.
    int EndLine() { return m_lineOpen ? Write("\n") : 0; }
    // Flushes to the disk and closes; 0 or REPORT_WRITE_FAILED.
    int Close();

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_lineOpen = false;
};

// The folder the report dialogs offer first: the user's home folder.
std::string DefaultReportFolder();
