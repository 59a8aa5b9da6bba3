// One effect instance as the compositing host owns it: the instance record
// laid out as the effect expects, the host function table, the parameters the
// effect declared, and the selector calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/IFXFilterInstance.h"
#include "host/ParamDeclaration.h"
#include "host/Parameters.h"
#include "runtime/EffectLibrary.h"

namespace dof::runtime {

struct TagValue {
    std::int32_t tag;
    std::int32_t value;  // the 32-bit word (0 for a text)
    std::string text;    // the text of kTagChoices
    bool operator==(const TagValue& other) const {
        return tag == other.tag && value == other.value && text == other.text;
    }
};

// One DeclareParam call, as the effect made it.
struct ParamDeclaration {
    int kind = 0;                // a ParamKind
    double* value = nullptr;     // where the host writes the parameter
    int zeroWord = 0;            // the word after the value address
    std::vector<TagValue> tags;  // in the order given
    std::string name;            // host text of the TagNameId, empty without one

    bool hasTag(std::int32_t tag) const;
    std::int32_t tagValue(std::int32_t tag, std::int32_t fallback = 0) const;
    std::string choicesText() const;  // the text of kTagChoices, or empty
};

// Parameter kinds that carry a value the user sets.
inline bool isUserParameter(const ParamDeclaration& d) { return d.value != nullptr; }

class EffectInstance {
public:
    // The host capability bits it offers; describe needs 0x10.
    explicit EffectInstance(const EffectLibrary& library,
                            std::uint8_t hostFlags = kHostFlagDescribe);
    ~EffectInstance();
    EffectInstance(const EffectInstance&) = delete;
    EffectInstance& operator=(const EffectInstance&) = delete;

    IFXFilterInstance& record();
    const IFXFilterInstance& record() const;

    // Raw selector calls, results as the effect returns them.
    QVULong callEntry(QVULong selector);    // ENTRYPOINT1
    QVULong callInit(QVULong selector);     // through initEntry (set up stores it)
    QVULong callExecute(QVULong selector);  // through executeEntry

    // The lifecycle as a host runs it. Each returns true when the effect
    // answered 1.
    bool describe();
    bool setup();
    bool cleanup();
    // Describe, then set up, as a host does on loading an effect; false with
    // a one-line `error` naming the effect when either is refused.
    bool start(std::string* error);

    // Query sub-selector; `result` receives the mask the effect writes (left
    // as it was where it writes none). Returns the dispatcher result.
    QVULong query(std::uint32_t subSelector, std::uint32_t* result);

    const std::vector<ParamDeclaration>& declarations() const { return declarations_; }
    // Writes a value where the effect asked the host to keep it.
    void setParameter(const ParamDeclaration& declaration, double value);
    Parameters* parameters() const;

    // CheckAbort: the callback is asked at every poll; without one the render
    // goes on.
    void setAbortHandler(std::function<bool()> handler) { abortHandler_ = std::move(handler); }
    // Whether any poll answered stop since the last reset.
    bool stopRequested() const { return stopRequested_; }
    void resetAbortState() { stopRequested_ = false; }

    const EffectLibrary& library() const { return library_; }

private:
    static int declareParam(IFXFilterInstance* filterInstance, int kind, double* value, int zero,
                            ...);
    static int checkAbort(IFXFilterInstance* filterInstance);
    static EffectInstance* owner(IFXFilterInstance* filterInstance);

    struct HostRecord;
    const EffectLibrary& library_;
    std::unique_ptr<HostRecord> host_;
    struct FilterInfo info_;
    std::vector<ParamDeclaration> declarations_;
    std::function<bool()> abortHandler_;
    bool stopRequested_ = false;
    bool setUp_ = false;
};

}  // namespace dof::runtime
