#include "tool/frame_job.h"

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

#include "io/frame_reader.h"
#include "io/frame_writer.h"
#include "io/render_settings_metadata.h"
#include "render/channel_layer_render.h"
#include "render/frame_plan.h"
#include "render/coc_pass.h"
#include "tool/render_notes.h"
#include "util/interrupt.h"

namespace dof {

const char* frameStatusName(FrameStatus status) {
    switch (status) {
        case FrameStatus::Rendered:
            return "rendered";
        case FrameStatus::Skipped:
            return "skipped";
        case FrameStatus::Interrupted:
            return "interrupted";
        default:
            return "failed";
    }
}

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A frame's render as it goes: what is known of it so far, and its three
// ways to end.
class FrameRun {
public:
    explicit FrameRun(const FrameFiles& files) : start_(Clock::now()) { result_.files = files; }

    FrameResult& result() { return result_; }
    FrameResult failed(const std::string& error) {
        result_.error = error;
        return end(FrameStatus::Failed);
    }
    FrameResult interrupted() { return end(FrameStatus::Interrupted); }
    FrameResult rendered() { return end(FrameStatus::Rendered); }
    double seconds() const { return secondsSince(start_); }

private:
    FrameResult end(FrameStatus status) {
        result_.status = status;
        result_.totalSeconds = seconds();
        return result_;
    }

    Clock::time_point start_;
    FrameResult result_;
};

// The output's writer, once every output of the frame can be created.
std::unique_ptr<OutputWriter> outputWriter(const FrameFiles& files, std::string* error) {
    if (!canWrite(files.output, error)) return nullptr;
    if (!files.cocMap.empty() && !canWrite(files.cocMap, error)) return nullptr;
    return OutputWriter::create(files.output, error);
}

ReadOptions readOptionsFor(const FrameFiles& files, const RenderOptions& options) {
    ReadOptions read = options.read;
    read.depthFile = files.depth;
    return read;
}

OutputEncoding encodingFor(const RenderOptions& options, const FrameSettings& frame) {
    OutputEncoding encoding = options.encoding;
    encoding.settingsRecord = settingsRecord(canonicalSettings(options, frame));
    return encoding;
}

// What the plan decided, for the summary.
void notePlan(const FramePlan& plan, const FrameSettings& frame, FrameResult* result) {
    result->focusFrom = frame.focusFrom;
    result->focusAtX = frame.focusAtX;
    result->focusAtY = frame.focusAtY;
    result->focusDistance = plan.focusDistance;
    result->lens = plan.lens;
    result->radius = plan.effect.settings.radius;
    result->depthFactor = plan.effect.depth.scale.factor;
    result->width = plan.windows.front().width;
    result->height = plan.windows.front().height;
    result->workingFormat = formatName(plan.workingFormat());
}

}  // namespace

FrameResult runFrameJob(runtime::EffectInstance& instance, const FrameFiles& files,
                        const RenderOptions& options, Progress* progress, TaskPool* pool) {
    FrameRun run(files);
    FrameResult& result = run.result();
    if (interruptRequested()) return run.interrupted();
    std::string error;
    const std::unique_ptr<OutputWriter> writer = outputWriter(files, &error);
    if (!writer) return run.failed(error);

    Frame frame;
    FileRecord record;
    // A signal ends a read that is stuck in the system with an error.
    if (!readFrame(files.input, readOptionsFor(files, options), &frame, &record, &error))
        return interruptRequested() ? run.interrupted() : run.failed(error);
    // Notes and the summary speak of the channels the output holds.
    const FrameSettings settings = frameSettings(options, files.frame);
    const OutputEncoding encoding = encodingFor(options, settings);
    keepWrittenOnly(frame, options.read.depthChannel,
                    writer->writtenChannels(frame, record, encoding), &frame.layers);
    result.deep = frame.deep;
    result.nonFiniteValues = frame.nonFiniteValues;
    result.width = frame.width();
    result.height = frame.height();
    result.blurred = frame.layers.blurred;
    result.keptSharp = frame.layers.keptSharp;
    result.keptSharpBesidesDepth = frame.layers.keptSharpBesidesDepth;
    result.loadSeconds = run.seconds();
    if (interruptRequested()) return run.interrupted();

    FramePlan plan;
    if (!planFrame(frame, framePlanOptions(options, settings), &plan, &error))
        return run.failed(error);
    notePlan(plan, settings, &result);
    noteFramePlan(result, progress);
    std::vector<float> coc;
    if (!files.cocMap.empty() || !options.encoding.cocChannel.empty()) coc = cocPass(frame, plan);
    FrameRenderContext context;
    context.library = &instance.library();
    context.pool = pool;
    context.threads = options.threads;
    context.progress = progress;
    context.frameNumber = files.frame;
    RenderedFrame rendered;
    const RenderOutcome outcome =
        renderFrame(frame, plan, context, &rendered, &result.passSeconds, &error);
    if (outcome != RenderOutcome::Done)
        return outcome == RenderOutcome::Failed ? run.failed(error) : run.interrupted();
    if (interruptRequested()) return run.interrupted();

    const auto writeStart = Clock::now();
    const WriteOutcome written =
        writer->write(std::move(frame), record, std::move(rendered), std::move(coc), files,
                      encoding, &result.notWritten, &error);
    if (written != WriteOutcome::Written)
        return written == WriteOutcome::Failed ? run.failed(error) : run.interrupted();
    result.writeSeconds = secondsSince(writeStart);
    noteNotWritten(result, progress);
    return run.rendered();
}

}  // namespace dof
