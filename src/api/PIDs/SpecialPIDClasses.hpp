#pragma once

#include "api/PIDs/NumericPID.hpp"

// Numeric bases whose scale or availability is not fixed: a scale picked by a second support
// bit, a value that is unavailable at its maximum or flagged unavailable, or a scale that follows
// a maximum the vehicle reports in PID 4F or 50.
namespace qz {

// Support and a coarser scale from a second bit, `scaleBitDistance` places above the support bit:
// support bit set -> scale 1; else second bit set -> `coarseScale`; else unsupported.
class CoarseScaleSupportPID : public NumericPID {
  public:
    using NumericPID::NumericPID;
    void setSupportedViaSupportBit() override;

  protected:
    virtual int64_t scaleBitDistance() const = 0;
    virtual double coarseScale() const = 0;
};

// EGR temperatures (PID 6B): second bit four places up, scale 4.
class PID016BBase : public CoarseScaleSupportPID {
  public:
    using CoarseScaleSupportPID::CoarseScaleSupportPID;

  protected:
    int64_t scaleBitDistance() const override { return 4; }
    double coarseScale() const override { return 4.0; }
};

// Compressor inlet pressures (PID 6F): second bit two places up, scale 8.
class PID016FBase : public CoarseScaleSupportPID {
  public:
    using CoarseScaleSupportPID::CoarseScaleSupportPID;

  protected:
    int64_t scaleBitDistance() const override { return 2; }
    double coarseScale() const override { return 8.0; }
};

// No value when the decoded number equals maxValue (a field of all FF).
class NumericPIDValueUnavailableIfMaxxed : public NumericPID {
  public:
    using NumericPID::NumericPID;

  protected:
    std::optional<Measurement> valueLocked() const override;
};

// No value when the bit four places above the support bit flags the sensor's data unavailable.
class NoXConcentrationPIDBase : public NumericPID {
  public:
    using NumericPID::NumericPID;

  protected:
    std::optional<Measurement> valueLocked() const override;
};

// A scale that follows a maximum the vehicle reports: scalar = value, then
// maxValue = (2^(8n) - 1) * scalar + offset.
class ReportedMaximumScaledPID : public NumericPID {
  public:
    using NumericPID::NumericPID;

  protected:
    void rescale(double scalar);
    // The offset keeps its count of raw steps; minValue follows the offset.
    void rescaleKeepingOffsetSteps(double scalar);
};

// Scaled by byte A of 01 4F (maximum equivalence ratio).
class PIDScaledByPID4FA : public ReportedMaximumScaledPID {
  public:
    using ReportedMaximumScaledPID::ReportedMaximumScaledPID;
    void scaleBasedOnPID4FA(double value) { rescale(value); }
};

// Scaled by byte B of 01 4F (maximum oxygen-sensor voltage).
class PIDScaledByPID4FB : public ReportedMaximumScaledPID {
  public:
    using ReportedMaximumScaledPID::ReportedMaximumScaledPID;
    void scaleBasedOnPID4FB(double value) { rescale(value); }
};

// Scaled by byte C of 01 4F (maximum oxygen-sensor current).
class PIDScaledByPID4FC : public ReportedMaximumScaledPID {
  public:
    using ReportedMaximumScaledPID::ReportedMaximumScaledPID;
    void scaleBasedOnPID4FC(double value) { rescaleKeepingOffsetSteps(value); }
};

// Scaled by byte D of 01 4F (maximum intake manifold absolute pressure).
class PIDScaledByPID4FD : public ReportedMaximumScaledPID {
  public:
    using ReportedMaximumScaledPID::ReportedMaximumScaledPID;
    void scaleBasedOnPID4FD(double value) { rescale(value); }
};

// Scaled by byte A of 01 50 (maximum air flow rate).
class PIDScaledByPID50A : public ReportedMaximumScaledPID {
  public:
    using ReportedMaximumScaledPID::ReportedMaximumScaledPID;
    void scaleBasedOnPID50A(double value) { rescale(value); }
};

}  // namespace qz
