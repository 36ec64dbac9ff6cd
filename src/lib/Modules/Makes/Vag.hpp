#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"
#include "lib/Modules/QZEMakeModule.hpp"

namespace qz {

// A Volkswagen-group code with its definition, found through the module's and the global
// code stores.
using QZEVagCode = QZEDescribedCode;

// The Volkswagen-group code of a KWP2000 record: its two bytes are the fault number (DFCC),
// looked up as written with five digits and plainly, in the module's store and then in the
// global store. A number that no store lists is read as the J2012 code of the two bytes.
QZEVagCode vagCodeForFaultNumber(int a, int b, QZEVagTroubleCodeStore* moduleStore,
                                 QZEVagTroubleCodeStore* globalStore);

// Collects one KWP2000 message from the raw TP2.0 frames of one or more replies. A data frame
// is <op/sequence> <payload...>: op 0 wants an acknowledgement before more frames follow, 1 is
// the last frame and wants one, 2 is followed by more, 3 is the last without one; the first
// frame's payload starts with the message length (two bytes). Acknowledgements (B, 9) and
// channel frames (A) in the reply are skipped; an identifier in front of a line is skipped.
class QZETp2Assembler {
  public:
    struct Step {
        // The message is whole.
        bool complete = false;
        // The module waits for an acknowledgement ("B" + ackSequence) before it goes on.
        bool ackNeeded = false;
        int ackSequence = 0;
        // A frame out of sequence, or a reply without any data frame.
        bool broken = false;
        // A frame the adapter flags as damaged ("<RX ERROR"), or garbled (a token that is no
        // byte): the blocks are broken there.
        bool damaged = false;
        // A frame cut inside a byte: the blocks are broken there.
        bool cut = false;
    };

    // Takes the frames of one reply; one cut short (`cutShort`) breaks the blocks where it
    // stopped.
    Step feed(std::string_view reply, bool cutShort = false);
    // The message so far (whole once a step was complete).
    const QZEMessageBytes& message() const { return m_message; }
    // A first frame with the message length has come.
    bool started() const { return m_started; }

  private:
    Step frames(std::string_view reply);

    QZEMessageBytes m_message;
    size_t m_length = 0;
    bool m_started = false;
    int m_nextSequence = -1;
};

// Volkswagen-group modules on K-line (KWP2000 by module address), codes by fault number.
class QZEVAGKLineModule : public QZEMakeModule {
  public:
    // The Volkswagen-group global code store the module scanner makes once per scan.
    explicit QZEVAGKLineModule(std::shared_ptr<QZEVagGlobalTroubleCodeStore> codeStore = nullptr);
    const std::shared_ptr<QZEVagGlobalTroubleCodeStore>& codeStore() const { return m_codeStore; }

    // A KWP2000 record: the code of its fault number, with its definition from the stores.
    void addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status) override;

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;

  private:
    std::shared_ptr<QZEVagGlobalTroubleCodeStore> m_codeStore;
};

// Volkswagen-group modules on CAN: UDS on bus key 1; KWP2000 over a TP2.0 channel (opened at
// the module's "TP2" address, answered on its "CallUp" identifier) on bus key 98, with the
// frames reassembled here and the codes found by fault number. A TP2.0 answer cut short is
// asked for again as a multi-frame CAN answer is.
class QZEVAGCanModule : public QZEMakeModule {
  public:
    // The Volkswagen-group global code store the module scanner makes once per scan.
    explicit QZEVAGCanModule(std::shared_ptr<QZEVagGlobalTroubleCodeStore> codeStore = nullptr);
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;
    const std::shared_ptr<QZEVagGlobalTroubleCodeStore>& codeStore() const { return m_codeStore; }

    // A UDS record: the code with its failure type and status; its definition from the stores.
    void addUdsCodeFromBytes(const std::vector<std::string>& bytes) override;
    // A KWP2000 record: as on K-line.
    void addDTCWithAByte(uint32_t a, uint32_t b, const std::string& status) override;

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;

  private:
    // What became of a channel set-up.
    enum class Channel {
        open,
        none,  // no channel: no answer, a refusal, or the sensor refused its header or filter
        cut,   // the module's answer to the set-up or parameters came cut short or damaged
    };
    // Opens the channel to the module: header and filter of the channel identifiers it gives.
    // A set-up or parameters answer cut short or damaged is given in `setUp`.
    Channel openChannel(const std::string& tp2, const std::string& callUp, QZEModuleReply& setUp);
    void closeChannel();
    // One KWP2000 request on the open channel: the module's answer classified (cut short when
    // its blocks stopped, ran short of the length announced or came out of sequence; damaged
    // when a block was flagged; a "response pending" asked again after a pause, at most three
    // times in all), none when it gave none.
    std::optional<QZEModuleReply> channelRequest(const std::string& kwp, const QZEAsked& asked);
    // Opens the channel, asks, closes it; silence when the channel could not be opened, cut
    // short or damaged (without messages) when its set-up or parameters answer came so.
    QZEModuleReply tp2Request(const QZEModuleData& module, const std::string& kwp,
                              const QZEAsked& asked);

    std::shared_ptr<QZEVagGlobalTroubleCodeStore> m_codeStore;
    int m_sequence = 0;
};

}  // namespace qz
