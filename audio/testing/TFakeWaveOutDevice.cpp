#include "audio/testing/TFakeWaveOutDevice.h"

#include <algorithm>
#include <utility>

namespace kavrel {

namespace {

const char* OpName(TFakeWaveOutDevice::TOp op)
{
    switch (op) {
    case TFakeWaveOutDevice::TOp::Open:
        return "Open";
    case TFakeWaveOutDevice::TOp::Prepare:
        return "Prepare";
    case TFakeWaveOutDevice::TOp::Unprepare:
        return "Unprepare";
    case TFakeWaveOutDevice::TOp::Write:
        return "Write";
    case TFakeWaveOutDevice::TOp::Pause:
        return "Pause";
    case TFakeWaveOutDevice::TOp::Restart:
        return "Restart";
    case TFakeWaveOutDevice::TOp::Reset:
        return "Reset";
    case TFakeWaveOutDevice::TOp::Close:
        return "Close";
    }
    return "?";
}

bool ValidFormat(const TWaveFormat& f)
{
    return f.formatTag == 1 && f.bitsPerSample == 16 && f.channels >= 1 && f.samplesPerSec >= 1 &&
           f.blockAlign == f.channels * 2 &&
           f.avgBytesPerSec == std::int64_t{f.blockAlign} * f.samplesPerSec && f.extraSize == 0;
}

TFakeWaveOutDevice::TBlock Snapshot(const TWaveHeader& header)
{
    TFakeWaveOutDevice::TBlock block;
    block.values.assign(header.data, header.data + header.bufferLength / 2);
    block.user = header.user;
    block.endOfSound = (header.flags & TWaveHeader::EndOfSound) != 0;
    return block;
}

} // namespace

TFakeWaveOutDevice::TFakeWaveOutDevice(std::vector<std::string> names) : m_names(std::move(names))
{
}

int TFakeWaveOutDevice::DeviceCount() const
{
    return static_cast<int>(m_names.size());
}

std::string TFakeWaveOutDevice::DeviceName(int index) const
{
    if (index < 0 || index >= DeviceCount()) {
        return {};
    }
    return m_names[static_cast<std::size_t>(index)];
}

std::string TFakeWaveOutDevice::DeviceKey(int index) const
{
    if (index < 0 || index >= DeviceCount()) {
        return {};
    }
    const auto i = static_cast<std::size_t>(index);
    return i < m_keys.size() ? m_keys[i] : m_names[i];
}

void TFakeWaveOutDevice::SetOutputs(std::vector<std::string> names, std::vector<std::string> keys)
{
    m_names = std::move(names);
    m_keys = std::move(keys);
}

int TFakeWaveOutDevice::Injected(TOp op)
{
    m_calls.emplace_back(OpName(op));
    auto it = m_failNext.find(op);
    if (it != m_failNext.end()) {
        int code = it->second;
        m_failNext.erase(it);
        return code;
    }
    bool survivesBreak = op == TOp::Unprepare || op == TOp::Reset || op == TOp::Close;
    if (m_broken != weNoError && !survivesBreak) {
        return m_broken;
    }
    return weNoError;
}

bool TFakeWaveOutDevice::Holds(const TWaveHeader& header) const
{
    return std::find(m_queue.begin(), m_queue.end(), &header) != m_queue.end();
}

void TFakeWaveOutDevice::Notify(const TWaveOutMessage& message)
{
    if (m_notify) {
        m_notify(message);
    }
}

int TFakeWaveOutDevice::Open(int deviceId, const TWaveFormat& format, TWaveOutNotify notify)
{
    if (int code = Injected(TOp::Open)) {
        return code;
    }
    if (m_open) {
        return weAllocated;
    }
    if (m_names.empty()) {
        return weNoDriver;
    }
    if (deviceId != DefaultDevice && (deviceId < 0 || deviceId >= DeviceCount())) {
        return weBadDeviceId;
    }
    if (!ValidFormat(format)) {
        return weBadFormat;
    }
    m_open = true;
    m_paused = false;
    m_deviceId = deviceId;
    m_format = format;
    m_playedFrames = 0;
    m_underruns = 0;
    m_notify = std::move(notify);
    Notify({TWaveOutMessageKind::Opened, nullptr, 0});
    return weNoError;
}

int TFakeWaveOutDevice::PrepareHeader(TWaveHeader& header)
{
    if (int code = Injected(TOp::Prepare)) {
        return code;
    }
    if (!m_open) {
        return weInvalidHandle;
    }
    if (header.data == nullptr || header.bufferLength == 0 || header.bufferLength % 2 != 0) {
        return weInvalidParam;
    }
    header.flags |= TWaveHeader::Prepared;
    return weNoError;
}

int TFakeWaveOutDevice::UnprepareHeader(TWaveHeader& header)
{
    if (int code = Injected(TOp::Unprepare)) {
        return code;
    }
    if (!m_open) {
        return weInvalidHandle;
    }
    if ((header.flags & TWaveHeader::InQueue) != 0 || Holds(header)) {
        return weStillPlaying;
    }
    header.flags &= ~TWaveHeader::Prepared;
    return weNoError;
}

int TFakeWaveOutDevice::Write(TWaveHeader& header)
{
    if (int code = Injected(TOp::Write)) {
        return code;
    }
    if (!m_open) {
        return weInvalidHandle;
    }
    if ((header.flags & TWaveHeader::Prepared) == 0) {
        return weUnprepared;
    }
    if ((header.flags & TWaveHeader::InQueue) != 0 || Holds(header)) {
        return weStillPlaying;
    }
    header.flags = (header.flags & ~TWaveHeader::Done) | TWaveHeader::InQueue;
    m_queue.push_back(&header);
    m_writtenBlocks.push_back(Snapshot(header));
    return weNoError;
}

int TFakeWaveOutDevice::Pause()
{
    if (int code = Injected(TOp::Pause)) {
        return code;
    }
    if (!m_open) {
        return weInvalidHandle;
    }
    m_paused = true;
    return weNoError;
}

int TFakeWaveOutDevice::Restart()
{
    if (int code = Injected(TOp::Restart)) {
        return code;
    }
    if (!m_open) {
        return weInvalidHandle;
    }
    m_paused = false;
    return weNoError;
}

int TFakeWaveOutDevice::Reset()
{
    if (int code = Injected(TOp::Reset)) {
        return code;
    }
    if (!m_open) {
        return weInvalidHandle;
    }
    auto queue = std::move(m_queue);
    m_queue.clear();
    m_playedFrames = 0;
    for (TWaveHeader* header : queue) {
        header->flags = (header->flags & ~TWaveHeader::InQueue) | TWaveHeader::Done;
        Notify({TWaveOutMessageKind::Done, header, 0});
    }
    return weNoError;
}

int TFakeWaveOutDevice::Close()
{
    if (int code = Injected(TOp::Close)) {
        return code;
    }
    if (!m_open) {
        return weInvalidHandle;
    }
    if (!m_queue.empty()) {
        return weStillPlaying;
    }
    m_open = false;
    m_paused = false;
    Notify({TWaveOutMessageKind::Closed, nullptr, 0});
    m_notify = nullptr;
    return weNoError;
}

std::string TFakeWaveOutDevice::ErrorText(int code) const
{
    return DefaultWaveErrorText(code);
}

void TFakeWaveOutDevice::FailNext(TOp op, int code)
{
    m_failNext[op] = code;
}

std::int64_t TFakeWaveOutDevice::PlayedFrames() const
{
    return m_open ? m_playedFrames : 0;
}

bool TFakeWaveOutDevice::CompleteNext()
{
    if (!m_open || m_paused || m_broken != weNoError || m_queue.empty()) {
        return false;
    }
    TWaveHeader* header = m_queue.front();
    m_queue.pop_front();
    TBlock block = Snapshot(*header);
    m_playedFrames +=
        static_cast<std::int64_t>(block.values.size()) / std::max(1, m_format.channels);
    m_played.insert(m_played.end(), block.values.begin(), block.values.end());
    m_playedBlocks.push_back(std::move(block));
    header->flags = (header->flags & ~TWaveHeader::InQueue) | TWaveHeader::Done;
    Notify({TWaveOutMessageKind::Done, header, 0});
    return true;
}

std::size_t TFakeWaveOutDevice::CompleteQueued()
{
    std::size_t n = m_queue.size();
    std::size_t done = 0;
    while (done < n && CompleteNext()) {
        ++done;
    }
    return done;
}

void TFakeWaveOutDevice::Break(int code)
{
    m_broken = code == weNoError ? weDisconnected : code;
    if (m_open) {
        Notify({TWaveOutMessageKind::Failed, nullptr, m_broken});
    }
}

void TFakeWaveOutDevice::Starve(std::int64_t bytes)
{
    if (m_open) {
        ++m_underruns;
        Notify({TWaveOutMessageKind::Starved, nullptr, 0, bytes});
    }
}

void TFakeWaveOutDevice::Repair()
{
    m_broken = weNoError;
}

std::size_t TFakeWaveOutDevice::CallCount(const std::string& name) const
{
    return static_cast<std::size_t>(std::count(m_calls.begin(), m_calls.end(), name));
}

void TFakeWaveOutDevice::ClearRecords()
{
    m_played.clear();
    m_playedBlocks.clear();
    m_writtenBlocks.clear();
    m_calls.clear();
}

} // namespace kavrel
