#include "runtime/EffectInstance.h"

#include <cstdarg>
#include <cstring>

#include "host/Selectors.h"

namespace dof::runtime {

// The record the effect sees comes first, so that the pointer it hands back to
// the host functions leads to its owner.
struct EffectInstance::HostRecord {
    IFXFilterInstance record;
    EffectInstance* owner;
};

bool ParamDeclaration::hasTag(std::int32_t tag) const {
    for (const TagValue& t : tags)
        if (t.tag == tag) return true;
    return false;
}

std::int32_t ParamDeclaration::tagValue(std::int32_t tag, std::int32_t fallback) const {
    for (const TagValue& t : tags)
        if (t.tag == tag) return t.value;
    return fallback;
}

std::string ParamDeclaration::choicesText() const {
    for (const TagValue& t : tags)
        if (t.tag == kTagChoices) return t.text;
    return std::string();
}

EffectInstance::EffectInstance(const EffectLibrary& library, std::uint8_t hostFlags)
    : library_(library), host_(new HostRecord()) {
    std::memset(&host_->record, 0, sizeof host_->record);
    host_->owner = this;
    std::memset(&info_, 0, sizeof info_);
    info_.hostFlags = hostFlags;
    info_.DeclareParam = &EffectInstance::declareParam;
    info_.CheckAbort = &EffectInstance::checkAbort;
    info_.AllocMem = AllocMemQV;
    info_.FreeMem = FreeMemQV;
    info_.AllocBitmap = AllocBitmapQV;
    info_.FreeBitmap = FreeBitmapQV;
    host_->record.FilterInfo = &info_;
    host_->record.pixelAspect = 1.0;
    host_->record.scaleX = 1.0;
    host_->record.scaleY = 1.0;
}

EffectInstance::~EffectInstance() {
    if (setUp_) cleanup();
}

IFXFilterInstance& EffectInstance::record() { return host_->record; }
const IFXFilterInstance& EffectInstance::record() const { return host_->record; }

EffectInstance* EffectInstance::owner(IFXFilterInstance* filterInstance) {
    return reinterpret_cast<HostRecord*>(filterInstance)->owner;
}

QVULong EffectInstance::callEntry(QVULong selector) {
    return library_.entryPoint()(&host_->record, selector);
}

QVULong EffectInstance::callInit(QVULong selector) {
    FilterDispatch init = host_->record.initEntry;
    return init ? init(&host_->record, selector) : QVULong(kDispatchFailed);
}

QVULong EffectInstance::callExecute(QVULong selector) {
    FilterDispatch execute = host_->record.executeEntry;
    return execute ? execute(&host_->record, selector) : QVULong(kDispatchFailed);
}

bool EffectInstance::describe() { return callEntry(kSelectorDescribe) == kDispatchDone; }

bool EffectInstance::setup() {
    declarations_.clear();
    setUp_ = callEntry(kSelectorSetup) == kDispatchDone;
    return setUp_;
}

bool EffectInstance::start(std::string* error) {
    if (describe() && setup()) return true;
    if (error) *error = library_.path() + ": the effect refused to describe or set itself up";
    return false;
}

bool EffectInstance::cleanup() {
    if (!setUp_) return false;
    setUp_ = false;
    return callInit(kSelectorCleanup) == kDispatchDone;
}

QVULong EffectInstance::query(std::uint32_t subSelector, std::uint32_t* result) {
    host_->record.querySelector = subSelector;
    host_->record.queryResult = result;
    const QVULong answer = callExecute(kSelectorQuery);
    host_->record.queryResult = nullptr;
    return answer;
}

void EffectInstance::setParameter(const ParamDeclaration& declaration, double value) {
    if (declaration.value != nullptr) *declaration.value = value;
}

Parameters* EffectInstance::parameters() const { return host_->record.parameters; }

int EffectInstance::declareParam(IFXFilterInstance* filterInstance, int kind, double* value,
                                 int zero, ...) {
    ParamDeclaration declaration;
    declaration.kind = kind;
    declaration.value = value;
    declaration.zeroWord = zero;
    // Tag/value pairs up to a 0 tag; a runaway list is cut off rather than
    // read past what any effect declares.
    constexpr int kMaxPairs = 64;
    va_list args;
    va_start(args, zero);
    for (int i = 0; i < kMaxPairs; ++i) {
        const std::int32_t tag = va_arg(args, std::int32_t);
        if (tag == kTagEnd) break;
        TagValue entry{tag, 0, std::string()};
        if (tag == kTagChoices) {
            const char* text = va_arg(args, const char*);
            entry.text = text ? text : "";
        } else {
            entry.value = va_arg(args, std::int32_t);
        }
        declaration.tags.push_back(entry);
    }
    va_end(args);
    if (declaration.hasTag(kTagNameId))
        declaration.name = GetStringQV(QVULong(declaration.tagValue(kTagNameId)));
    owner(filterInstance)->declarations_.push_back(std::move(declaration));
    return 1;
}

int EffectInstance::checkAbort(IFXFilterInstance* filterInstance) {
    EffectInstance* self = owner(filterInstance);
    const bool stop = self->abortHandler_ && self->abortHandler_();
    if (stop) self->stopRequested_ = true;
    return stop ? 1 : 0;
}

}  // namespace dof::runtime
