#pragma once

#include <cstdint>
#include <vector>

#include "lib/Modules/Makes/QZEModuleOptions.hpp"
#include "lib/Modules/Makes/QZEProtocolModule.hpp"

namespace qz {

// Hyundai modules on K-line, read on several pin pairs: KWP2000 ("18 00 FF 00"), "14 FF 00"
// clears. After a read that worked it notes the pins it answered on ("RESPONSE_PIN_COMMAND").
class QZEHyundaiKlineModule : public QZEProtocolModule,
                              public QZEDelayedTransmission,
                              public QZEMultiPinModule {
  public:
    QZEHyundaiKlineModule();

    // The high pins to try: 8, 12, 13, 7 on firmware that switches pins, else 7.
    static std::vector<int64_t> getHighPINs();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
    void beforeExchange() override;
    void afterGoodRead(QZEModuleData& module) override;
};

// Hyundai modules on the MUT line (pin 12, selected by the scanner): KWP2000 with a length
// byte in each request ("04 18 00 FF 00"), "03 14 FF 00" clears. Each module is addressed with
// its own header; the line's header ("8040F1", which the scanner's erase routine uses) is put
// back afterwards.
class QZEHyundaiMutModule : public QZEProtocolModule {
  public:
    QZEHyundaiMutModule();
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

// Hyundai modules on CAN: UDS ("19 02 FF"), "14 FF FF FF" clears.
class QZEHyundaiCanModule : public QZEProtocolModule {
  public:
    QZEHyundaiCanModule();

  protected:
    QZEModuleProtocol protocolFor(const QZEModuleData& module) const override;
};

}  // namespace qz
