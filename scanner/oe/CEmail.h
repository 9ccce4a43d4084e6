// One message of an Outlook Express mail folder, as the .dbx reader fills it.
// A plain property holder: every property is a stored value with a getter and
// a setter. Records are shared (std::shared_ptr) between the collection that
// holds them and any caller that has taken them out; the reader's own
// messages are kept compactly in CEmails until a caller takes one out.
#pragma once

#include <cstdint>
#include <string>

namespace qb::oe {

// MailDate's text of a FILETIME (ticks of 100 ns since 1601-01-01 UTC):
// "yyyy-mm-dd hh:mm:ss", no time-zone conversion; a value the system's
// conversion refuses (the top bit set) gives "0000-00-00 00:00:00".
std::string MailDateText(uint64_t ticks);

class CEmail {
  public:
    int32_t Id() const { return id_; }
    void SetId(int32_t v) { id_ = v; }
    const std::string& MailDate() const { return mailDate_; }
    void SetMailDate(std::string v) { mailDate_ = std::move(v); }
    // File offset of the first body block; -1 once the reader has seen no body pointer.
    int32_t DataOffset() const { return dataOffset_; }
    void SetDataOffset(int32_t v) { dataOffset_ = v; }
    // 0: a message.
    int32_t ItemType() const { return itemType_; }
    void SetItemType(int32_t v) { itemType_ = v; }
    const std::string& Subject() const { return subject_; }
    void SetSubject(std::string v) { subject_ = std::move(v); }
    int32_t Flag() const { return flag_; }
    void SetFlag(int32_t v) { flag_ = v; }
    const std::string& MessageID() const { return messageID_; }
    void SetMessageID(std::string v) { messageID_ = std::move(v); }
    const std::string& OrigSubject() const { return origSubject_; }
    void SetOrigSubject(std::string v) { origSubject_ = std::move(v); }
    const std::string& ParentMessageID() const { return parentMessageID_; }
    void SetParentMessageID(std::string v) { parentMessageID_ = std::move(v); }
    const std::string& FetchServer() const { return fetchServer_; }
    void SetFetchServer(std::string v) { fetchServer_ = std::move(v); }
    const std::string& SenderName() const { return senderName_; }
    void SetSenderName(std::string v) { senderName_ = std::move(v); }
    // One address or several separated by ";".
    const std::string& SenderEMail() const { return senderEMail_; }
    void SetSenderEMail(std::string v) { senderEMail_ = std::move(v); }
    const std::string& RecipientName() const { return recipientName_; }
    void SetRecipientName(std::string v) { recipientName_ = std::move(v); }
    const std::string& RecipientEMail() const { return recipientEMail_; }
    void SetRecipientEMail(std::string v) { recipientEMail_ = std::move(v); }
    const std::string& accountname() const { return accountname_; }
    void Setaccountname(std::string v) { accountname_ = std::move(v); }
    const std::string& AccountNumber() const { return accountNumber_; }
    void SetAccountNumber(std::string v) { accountNumber_ = std::move(v); }
    // Filled only when the file is opened with bodies.
    const std::string& Body() const { return body_; }
    void SetBody(std::string v) { body_ = std::move(v); }

  private:
    int32_t id_ = 0;
    std::string mailDate_;
    int32_t dataOffset_ = 0;
    int32_t itemType_ = 0;
    std::string subject_;
    int32_t flag_ = 0;
    std::string messageID_;
    std::string origSubject_;
    std::string parentMessageID_;
    std::string fetchServer_;
    std::string senderName_;
    std::string senderEMail_;
    std::string recipientName_;
    std::string recipientEMail_;
    std::string accountname_;
    std::string accountNumber_;
    std::string body_;
};

}  // namespace qb::oe
