// Reader of one Outlook Express 5/6 store file (.dbx). A message file yields
// CEmail records in EMails, the folder file Folders.dbx CFolder records in
// Folders. The reader only reads.
//
// The file is not held: every structure is copied out of it with a
// positioned read (DbxStore), whose positions are 1-based and inclusive: the
// n bytes at file offset o are positions o + 1 .. o + n. Every read is
// bounded by the file's size when it was opened, and the walks are bounded
// by that size too (see the walk and body functions), so no input makes the
// reader loop or read outside the file. Messages are kept compactly in
// EMails (one entry per message, their texts in shared blocks); the file is
// open only during openFile and getBody.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scanner/oe/CEmails.h"
#include "scanner/oe/CFolders.h"
#include "scanner/oe/DbxStore.h"

namespace qb::oe {

// Kinds of file (FileType).
constexpr int32_t dbxTypeEmail = 0;
constexpr int32_t dbxTypeFolder = 2;
constexpr int32_t dbxTypeVoid = 3;

// Failure numbers of the reader, as they appear in its log lines.
namespace dbx_err {
constexpr int32_t kBadFile = static_cast<int32_t>(0x80040201);       // signature void or unknown
constexpr int32_t kReadOutside = static_cast<int32_t>(0x80040202);   // a structure outside the file
constexpr int32_t kBadHeader = static_cast<int32_t>(0x80040203);     // record header unreadable
constexpr int32_t kValueOutside = static_cast<int32_t>(0x80040204);  // field outside the data area
constexpr int32_t kNoFreeSlot = static_cast<int32_t>(0x80040205);    // more entries than the count
constexpr int32_t kOverlap = static_cast<int32_t>(0x80040206);  // more bytes than the file holds
constexpr int32_t kBadData = static_cast<int32_t>(0x80040207);  // data area or body unreadable
}  // namespace dbx_err

class CDbx {
  public:
    CDbx();
    ~CDbx();
    CDbx(const CDbx&) = delete;
    CDbx& operator=(const CDbx&) = delete;

    CEmails& EMails() { return emails_; }
    const CEmails& EMails() const { return emails_; }
    CFolders& Folders() { return folders_; }
    const CFolders& Folders() const { return folders_; }
    // The header's record count after the last openFile that passed the
    // signature check.
    int32_t IndexCount() const { return indexCount_; }
    int32_t FileType() const { return fileType_; }
    // The path of the last file whose signature was recognised.
    const std::string& FileName() const { return fileName_; }
    // The code of the last operation as decimal text: "0" success, "1" the
    // file was not read completely, "3" index tree or record header
    // unreadable, "5" more entries than the count, "7" data area or body
    // unreadable.
    std::string ErrNo() const { return std::to_string(errNo_); }

    // Loads sFileName and reads all its records into EMails or Folders (never
    // cleared: a second file adds to them). True on success; on failure
    // writes "openFile() Error <number> : <description>" and keeps the
    // records added so far.
    bool openFile(const std::string& sFileName, bool fRetrieveBody);

    // The body text whose first block is at file offset pos; empty for 0 and
    // on failure (ErrNo then 7).
    std::string getBody(int32_t pos);

    // The message texts that openFile keeps (a bit 1 << k for each
    // MailFields::Text k); the others are passed over and read as empty
    // texts. Every text by default. A scan that reads one or two texts of
    // each message asks for those only: the others would cost the copying
    // and the memory of most of each record.
    void KeepTexts(uint32_t mask) { keptTexts_ = mask; }
    static constexpr uint32_t TextBit(MailFields::Text k) { return 1u << k; }

  private:
    bool getIndexes();
    void getIndexNode(int32_t pos);
    // Reads the record at pos into mail_ (fileKind 0) or folder_; false on
    // failure, with the failure kept for openFile.
    bool getItem(int32_t pos, int32_t fileKind, bool fRetrieveBody);
    std::string ReadBody(int32_t pos, int64_t& budget);

    // The n bytes at file offset pos, valid until the next Read (scratch
    // holds them when the cache cannot). False when they lie outside the
    // file or the file no longer holds them; raises on offset overflow.
    bool Read(int32_t pos, int32_t n, std::string& scratch, std::string_view& bytes);
    int64_t FileSize() const { return store_.Size(); }

    int32_t errNo_ = 0;
    // Made a store by the first openFile.
    bool opened_ = false;
    DbxStore store_;
    std::string fileName_;
    int32_t fileType_ = dbxTypeEmail;
    uint32_t keptTexts_ = ~0u;
    int32_t rootPointer_ = 0;
    std::vector<int32_t> slots_;
    int32_t indexCount_ = 0;
    CEmails emails_;
    CFolders folders_;

    // Work areas reused across records: the record read last.
    std::string scratch_;
    std::string data_;
    std::string body_;
    MailFields mail_;
    std::shared_ptr<CFolder> folder_;
    // Bytes of records and of bodies still allowed in the current openFile.
    int64_t recordBudget_ = 0;
    int64_t bodyBudget_ = 0;
    // Failure of the last getItem that returned nothing.
    int32_t itemFailure_ = 0;
    std::string itemFailureText_;
};

}  // namespace qb::oe
