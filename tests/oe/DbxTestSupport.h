// What the reader's tests share: a temporary store folder, captured reports
// and the files of the .dbx writer.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scanner/oe/CDbx.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/dbx/DbxWriter.h"

namespace qb::oe {

namespace dbx = test::dbx;

class DbxTest : public ::testing::Test {
  protected:
    // Writes bytes as a store file and returns its Windows-style path.
    std::string Store(const std::string& bytes, const std::string& name = "Inbox.dbx") {
        folder.Write(name, bytes);
        return folder.WinPath() + "\\" + name;
    }
    // The console lines of the reader itself, without those of the file loader.
    std::vector<std::string> ReaderLines() const {
        std::vector<std::string> lines;
        for (const std::string& l : report.console) {
            if (l.rfind("filesize = ", 0) == 0 || l == "Get file_handle" ||
                l == "CString::append" || l.rfind("End of loadBinary", 0) == 0)
                continue;
            lines.push_back(l);
        }
        return lines;
    }
    static std::vector<int32_t> Ids(const CEmails& c) {
        std::vector<int32_t> ids;
        for (const auto& m : c)
            ids.push_back(m->Id());
        return ids;
    }
    // Messages with Ids first .. first + n - 1.
    static std::vector<dbx::Message> Numbered(int n, int first = 1) {
        std::vector<dbx::Message> out;
        for (int i = 0; i < n; ++i) {
            dbx::Message m;
            m.id = static_cast<uint32_t>(first + i);
            m.senderEMail = "sender" + std::to_string(first + i) + "@example.com";
            out.push_back(m);
        }
        return out;
    }
    static std::vector<int32_t> Descending(int n, int first = 1) {
        std::vector<int32_t> ids;
        for (int i = n - 1; i >= 0; --i)
            ids.push_back(first + i);
        return ids;
    }

    test::TempFolder folder;
    test::ReportCapture report{0};
};

}  // namespace qb::oe
