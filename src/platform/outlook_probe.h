// Whether a messaging component able to write MSG, RTF, HTML and PST is present, and of which
// bitness. On Windows this was the Outlook installation; here the store component is built into
// the program, so the default probe always finds it, with the program's own bitness. Tests
// inject other answers to reach the "not installed" and "other bitness" paths.
#pragma once

#include <string>
#include <utility>

// "64BITS" or "32BITS", as the running build is.
std::string ProgramBitness();
// The bitness that is not ProgramBitness().
std::string OtherBitness();

class OutlookProbe {
public:
    virtual ~OutlookProbe() = default;
    virtual bool IsInstalled() const = 0;
    // "32BITS" or "64BITS"; only asked when IsInstalled() is true.
    virtual std::string Bitness() const = 0;
};

// The probe of a normal run: our built-in store component, installed, of the program's bitness.
class BuiltInStoreProbe : public OutlookProbe {
public:
    bool IsInstalled() const override { return true; }
    std::string Bitness() const override { return ProgramBitness(); }
};

// A probe with fixed answers.
class FixedOutlookProbe : public OutlookProbe {
public:
    FixedOutlookProbe(bool installed, std::string bitness)
        : installed_(installed), bitness_(std::move(bitness)) {}
    bool IsInstalled() const override { return installed_; }
    std::string Bitness() const override { return bitness_; }

private:
    bool installed_;
    std::string bitness_;
};

// The probe the program uses unless one is injected.
const OutlookProbe& DefaultOutlookProbe();
