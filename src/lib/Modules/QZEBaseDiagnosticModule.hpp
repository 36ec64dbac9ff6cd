#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Modules/QZEDiagnosticModule.hpp"
#include "platform/NotificationCenter.hpp"

namespace qz {

// Notifications of the user-interaction hand-shake and of the link, posted on the default
// centre.
struct QZEModuleNotifications {
    // A module needs the user; the message text is under the user-info key "msg".
    static constexpr const char* kInteractionRequired = "PelkInteractionRequired";
    // The user has acted; every live module stops waiting.
    static constexpr const char* kInteractionComplete = "PelkInteractionComplete";
    static constexpr const char* kDeviceDisconnected = "DeviceDisconnected";
    static constexpr const char* kDeviceTimedOut = "DeviceTimedOut";
};

// One KWP2000 trouble-code record: the two code bytes and the status byte.
struct QZEKwpRecord {
    int a;
    int b;
    int status;
};

// Base of every manufacturer module class. An instance reads or clears one module: it sends
// requests through the QZEVehicle facade (with the engine's retries), has every vehicle reply
// classified (QZEModuleReply) into the response state, decodes the answers and collects the codes
// with their statuses.
// Everything runs synchronously on the caller's thread; the pauses go through the installed
// clock.
//
// A module class derives from it, passes its make to the constructor and overrides scanCodes
// and clearCodes. Three hooks are virtual and every base operation calls them on the instance:
// sendCommandToOstrel (used by all retry helpers), addDTCWithAByte and addUdsCodeFromBytes
// (used by the decoders). A reply travels as the text that came and, apart from it, whether it
// stopped before its prompt; every reply is read through QZEModuleReply.
class QZEBaseDiagnosticModule : public QZEDiagnosticModule {
  public:
    // Empty lists, request type 1, retries enabled; observes the interaction hand-shake.
    explicit QZEBaseDiagnosticModule(int64_t manufacturer);
    ~QZEBaseDiagnosticModule() override;
    QZEBaseDiagnosticModule(const QZEBaseDiagnosticModule&) = delete;
    QZEBaseDiagnosticModule& operator=(const QZEBaseDiagnosticModule&) = delete;

    // Defaults that log "Not implemented, should not be called!" and fail.
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // The live result lists.
    const std::vector<std::string>& codeArray() const override { return m_codeArray; }
    const std::vector<std::string>& statusArray() const override { return m_statusArray; }
    const std::vector<std::string>& definitionArray() const override { return m_definitionArray; }
    int32_t requestType() const override { return requestType_; }
    void setRequestType(int32_t value) override { requestType_ = value; }
    // The highest ResponseState seen.
    int64_t responseState() const override { return responseState_; }
    void setResponseState(int64_t value) override { responseState_ = value; }
    QZEReadOutcome readOutcome() const override { return readOutcome_; }
    void setReadOutcome(QZEReadOutcome value) override { readOutcome_ = value; }
    // Makes the read's outcome at least `outcome`.
    void noteOutcome(QZEReadOutcome outcome) { readOutcome_ = worseOutcome(readOutcome_, outcome); }

    int64_t vehicleManufacturer() const { return m_vehicleManufacturer; }
    bool retryEnabled() const { return retryEnabled_; }
    void setRetryEnabled(bool value) { retryEnabled_ = value; }

    // --- Sending (command texts carry no carriage return) ---

    // Sends through QZEVehicle and returns the reply (empty when no communication adapter is
    // registered), without the sensor's echo of the command, and whether it was cut short.
    // Replies to vehicle requests (commands not beginning with "KQ") raise the response state.
    virtual QZECommandReply sendCommandToOstrel(const std::string& cmd);
    // A sensor set-up command, up to 3 attempts until one is accepted. One still refused or not
    // answered is logged; the read's outcome is the read's to note (setUpForRead).
    bool sendSetupCommandToOstrel(const std::string& cmd);
    // Logs a set-up command the sensor refused ("Setup command refused: ") or did not answer
    // ("Setup command not answered: "); true when it was accepted.
    static bool setupTaken(const std::string& cmd, QZESetupAnswer answer);
    // A set-up a read needs before it reaches the module: refused or not answered, the read
    // stops short of the module and its outcome is a refused set-up.
    bool setUpForRead(const std::string& cmd);
    // The retries below take their decisions from the reply's kind (QZEModuleReply), for the
    // question of the exchange in force (see exchange), else for the request text on the protocol
    // in force.
    // Up to 3 sends while the reply, whole, holds "NO DATA" (no pause).
    QZECommandReply sendCommandWithReties(const std::string& cmd);
    // Up to 3 sends, after a 1 s pause for silence or a busy answer (21, 37, 10, 23; the pause
    // also follows the last send). A "response pending" is sent again at once without using up a
    // send, up to six such replies in all.
    QZECommandReply retryIfNrcAckOnKline(const std::string& cmd);
    // Up to 3 sends: "NO DATA" returns at once; silence is returned after a 5 s pause; a busy
    // answer is resent after a 5 s pause (also after the last send). A "response pending" is sent
    // again after a 5 s pause without using up a send, up to six such replies in all.
    QZECommandReply retryIfNrcAckOnCAN(const std::string& cmd);
    // Raises the response state for a vehicle reply, by its kind: an answer 3, and so is a reply
    // of the module's bytes that could not be read (cut short or damaged: the module answered),
    // a negative answer (a refusal, pending or busy) 2, the sensor's words and another address's
    // answer 1, silence 0. The question is that of the exchange in force; without one, any
    // message that is no negative answer is an answer.
    void evaluteModuleResponse(const QZECommandReply& reply);
    void evaluteModuleResponse(const std::string& reply) {
        evaluteModuleResponse(QZECommandReply{reply, false});
    }

    // --- Exchanges ---

    // The retries of a request.
    // nrcJ1850: the K-line retry, each of its sends with the NO DATA retry (a J1850 module may
    // answer NO DATA to the first request after a bus switch).
    enum class Retry { none, noData, nrcKline, nrcCan, nrcJ1850 };
    // Sends a request with its retries and classifies the last reply for `asked`, the question
    // every reply of the exchange is rated by.
    QZEModuleReply exchange(const std::string& cmd, Retry retry, const QZEAsked& asked);
    // A vehicle request through the given retry helper: the last reply.
    QZECommandReply request(const std::string& cmd, Retry retry);
    // The question of a request text on the protocol in force (CAN unless a J1850 or K-line
    // protocol is selected) in the display form in force, or that of the exchange in force.
    QZEAsked askedOf(const std::string& cmd) const;
    // The display form in force (QZEVehicle).
    static QZEDisplayForm displayed();

    // --- Reply splitting: tokens at white space, without empty tokens and ">" ---
    static std::vector<std::string> cleanResponseString(std::string_view reply);
    static std::vector<std::string> parseResponseToArray(std::string_view reply);

    // --- Results ---

    // Appends a new code with its status (and the description, when there is one); for a known
    // code, merges each "/"-separated word of the status that the stored status does not
    // already contain.
    void addCode(const std::string& code, const std::string& status,
                 const std::optional<std::string>& description);
    void addCode(const std::string& code, const std::string& status);

    // --- Bus and pins ---

    // Selects a one-character protocol ("KQSP"/"ATSP") unless it is already active; false when
    // the sensor refused it.
    bool setProtocolIfNeeded(const std::optional<std::string>& protocol);
    // Selects a pin pair ("KQSM" + high and low hex digit) unless it is already active; only
    // on firmware that can switch pins. False when the sensor refused it.
    bool setPinsIfNeeded(const std::optional<std::string>& pins);

    // --- Interaction with the user ---

    // Sets awaitingInteraction and posts "PelkInteractionRequired" with {"msg": message}. Once
    // the link has gone away during the module's life the message is still posted, but there
    // is nothing to wait for.
    void postInteractionNotificaiton(const std::string& message);
    // Stops waiting ("PelkInteractionComplete").
    void handleInteractionResponse();
    bool awaitingInteraction() const;
    // Blocks while awaitingInteraction holds. True when the user completed the interaction;
    // false when "DeviceDisconnected" or "DeviceTimedOut" ended the wait, or the link to the
    // sensor was found closed.
    bool waitForInteraction();

    // --- Decoders (lib/Decoders). Results are the code count after decoding unless noted. ---
    // The reply decoders find the module's positive messages through QZEModuleReply and hand
    // them to the message decoders; a message cut short gives its whole records, a damaged one
    // none.

    // The messages of a reply whose codes count: those of an answer, or of one cut short (a
    // message cut at its end holds its whole records); of a damaged reply only the messages that
    // came whole.
    static std::vector<QZEMessageBytes> readableMessages(const QZEModuleReply& reply);

    // KWP2000 records (A, B, status) after the count that follows "58" (the first token when
    // there is no "58"), each handed to addDTCWithAByte.
    int64_t decodeKWP2000ResponseBytes(const std::vector<std::string>& tokens);
    // The records after the count at `countAt` of a KWP2000 trouble-code reply (by default:
    // service byte, count, records of three bytes); a record cut short is left out.
    static std::vector<QZEKwpRecord> kwpRecords(const reply::Tokens& message, size_t countAt = 1);
    // KWP2000 ReadDiagnosticTroubleCodesByStatus reply on CAN; 0 for "NO DATA" or "7F".
    int64_t decodeKWP2000CANResponse(std::string_view reply);
    int64_t decodeEnhancedCodesCANChryslerJ2012(std::string_view reply);
    int64_t decodeJ2012(std::string_view reply);
    // GMLAN lines: "81 A B <failure type> <status> ...".
    int64_t decodeEnhancedCodesCANGMJ2012(std::string_view reply);
    // J1850 PWM lines: "<response byte> A B A B". Only lines of the positive response byte
    // count: 53, the answer to the engine's request 13, unless another is given (a negative
    // value stands for 53 too); header bytes and CRC are taken off lines that show them.
    static constexpr int kPwmPositive = 0x53;
    int64_t decodeCodesPWMFordJ2012(std::string_view reply, int positive = kPwmPositive);
    // J1850 VPW GM lines: "<response byte> A B <status>", read as the PWM lines; the positive
    // response byte is 59, the answer to the engine's request 19, unless another is given.
    static constexpr int kVpwGmPositive = 0x59;
    int64_t decodeEnhancedCodesVPWGMJ2012(std::string_view reply, int positive = kVpwGmPositive);
    // Chrysler J2190 bitmaps: three bytes, each set bit one fault.
    int64_t decodeEnhancedCodesVPWChryslerJ2190Old(std::string_view reply);
    int64_t decodeEnhancedCodesVPWChryslerJ2190New(std::string_view reply, int64_t faultCodeID);
    int32_t countDTCsJ2190(std::string_view reply);
    // Toyota service 53 replies.
    int64_t decodeToyotaDataCAN(std::string_view reply, const std::string& status = "");
    int64_t decodeToyotaDataKLine(std::string_view reply, const std::string& status = "");
    int64_t decodeExtendedCANBroadcast(std::string_view reply, bool useExtendedCan,
                                       const std::string& status);
    // UDS 59 replies; the result is the number of records handed to addUdsCodeFromBytes.
    int64_t decodeUds(std::string_view reply);
    int64_t decodeExtendedUds(std::string_view reply);
    // Identification bytes joined without separator, or none: those of the reply to the
    // request, read by ecuIdentification in the display form in force.
    std::optional<std::string> decodeEcuIdentificationWithRequest(std::string_view request,
                                                                  std::string_view response);
    // The identification a whole positive answer gives (none when the reply is not whole or
    // the bytes are not all there), from its messages: "1A86" the five bytes after "5A 86",
    // "1A87" the two bytes after the two that follow "5A 87", "22F100" the three bytes after
    // "62 F1 00", "3C00" the five after "7C 00".
    static std::optional<std::string> ecuIdentification(std::string_view request,
                                                        const QZEModuleReply& reply);

    // Message decoders: one positive message, its response byte first.
    // UDS "59 <type> <mask>", then (A, B, failure type, status) records to addUdsCodeFromBytes;
    // the number of records.
    int64_t decodeUdsMessage(const QZEMessageBytes& message);
    // Toyota "53 <count>", then (A, B) pairs to addDTCWithAByte with the status: as many as the
    // count says and the message holds, at least one. On K-line a message of odd length has no
    // count, its pairs following the response byte (QZERecordLayout::toyotaKLine).
    void decodeToyotaMessage(const QZEMessageBytes& message, const std::string& status,
                             bool kLine = false);
    // GMLAN "81 A B <failure type> <status> ..." (a whole frame of 8 bytes).
    void decodeGmlanMessage(const QZEMessageBytes& message);
    // J1850 PWM "<response> A B A B": the pairs the message holds wholly.
    void decodePwmMessage(const QZEMessageBytes& message);
    // J1850 VPW GM "<response> A B <status>" (without the status byte: an empty status).
    void decodeVpwGmMessage(const QZEMessageBytes& message);

    // Hook: one UDS record (A, B, failure type, status) becomes "P0123-45" with the status
    // words of the status byte.
    virtual void addUdsCodeFromBytes(const std::vector<std::string>& bytes);
    // Hook: the J2012 code of two bytes with a status.
    virtual void addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status);

    static std::string getJ2012CodeFromBytes(int32_t a, int32_t b);
    // UDS status words.
    static std::string decodeStatusByte(int64_t status);
    // KWP2000 status words of this module's make.
    std::string getKWP2000Status(uint8_t status) const;

    // --- Helpers shared by the module classes ---

    // The set-up command in the form the sensor takes: "KQ" + suffix, or "AT" + suffix when
    // the settings ask for the old command set.
    static std::string setupCommand(std::string_view suffix);
    // Sends each set-up command in order; stops at the first one refused.
    bool sendSetupCommands(std::initializer_list<std::string> commands);

    // Selects the module's "protocol" and "pins" extras, where present; false when the sensor
    // refused one.
    bool selectBus(const QZEModuleData& module);

  protected:
    // For its life, the module's replies tell at most that no one answered: exchanges that
    // identify a unit or open a channel to it say nothing of how it answers the code request.
    class UnratedReplies {
      public:
        explicit UnratedReplies(QZEBaseDiagnosticModule& module)
            : module_(module), limit_(module.responseLimit_) {
            module.responseLimit_ = ResponseStateNoData;
        }
        ~UnratedReplies() { module_.responseLimit_ = limit_; }
        UnratedReplies(const UnratedReplies&) = delete;
        UnratedReplies& operator=(const UnratedReplies&) = delete;

      private:
        QZEBaseDiagnosticModule& module_;
        int64_t limit_;
    };

    // For its life, without a question in force, the replies are rated by the request's question
    // on the given bus (the retry helpers' own).
    class Asking {
      public:
        Asking(QZEBaseDiagnosticModule& module, const std::string& cmd, QZEFraming framing)
            : module_(module), set_(!module.asking_) {
            if (set_) module_.asking_ = QZEAsked::of(cmd, framing, displayed());
        }
        ~Asking() {
            if (set_) module_.asking_.reset();
        }
        Asking(const Asking&) = delete;
        Asking& operator=(const Asking&) = delete;

      private:
        QZEBaseDiagnosticModule& module_;
        bool set_;
    };
    // Raises the response state for a reply rated by the question.
    void rate(const QZECommandReply& reply, const QZEAsked& asked);
    // The same for a reply classified already.
    void rate(const QZEModuleReply& classified);
    // The K-line retry over the given send.
    QZECommandReply retryOnKline(const std::string& cmd,
                                 const std::function<QZECommandReply(const std::string&)>& send);
    // A module whose last "pending" or "busy" is `waiting` is still answering: nothing after it
    // ends the retry, and that answer stands (unless the link is gone).
    static bool stillAnswering(const std::optional<QZECommandReply>& waiting);

    // Decoder internals on token views.
    int64_t decodeKwp2000Records(const reply::Tokens& tokens);
    void addCodeUnlessFiller(const std::string& code, const std::string& status);

    // Where a code stands in the code list (its first place), or none, found through an index
    // beside the list. The list may be appended to, cut short or emptied directly; the index
    // follows.
    std::optional<size_t> indexOfCode(const std::string& code);
    // Empties the three result lists.
    void clearResults();
    // The three result lists, to be put back as they were with restoreResults.
    struct Results {
        std::vector<std::string> codes, statuses, definitions;
    };
    Results results() const;
    void restoreResults(Results saved);

    std::vector<std::string> m_codeArray;
    std::vector<std::string> m_definitionArray;
    std::vector<std::string> m_statusArray;
    int64_t m_vehicleManufacturer;

  private:
    struct Interaction;

    bool retryEnabled_ = true;
    int32_t requestType_ = 1;
    int64_t responseState_ = ResponseStateUnknown;
    int64_t responseLimit_ = ResponseStateHasData;
    QZEReadOutcome readOutcome_ = QZEReadOutcome::complete;
    // The question the replies of the exchange in force are rated by.
    std::optional<QZEAsked> asking_;
    std::shared_ptr<Interaction> interaction_;
    std::vector<ObserverToken> observers_;
    // The first place of each code of m_codeArray[0, m_indexedCodes), and the last of them.
    std::unordered_map<std::string, size_t> m_codeIndex;
    size_t m_indexedCodes = 0;
    std::string m_lastIndexedCode;
};

}  // namespace qz
