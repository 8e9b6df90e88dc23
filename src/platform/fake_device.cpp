#include "platform/fake_device.h"

namespace kestra::platform {

FakeDevice::FakeDevice(std::shared_ptr<SectorDevice> inner, FakeScript script)
    : inner_(std::move(inner)), script_(std::move(script)) {}

bool FakeDevice::Read(uint64_t first, uint32_t count, uint8_t* buffer) {
    ++reads_;
    trace_.push_back({false, first, count});
    if (reads_ == script_.failReadCall || Covers(first, count, script_.failReadSector)) {
        return false;
    }
    return inner_->Read(first, count, buffer);
}

bool FakeDevice::Write(uint64_t first, uint32_t count, const uint8_t* buffer) {
    ++writes_;
    trace_.push_back({true, first, count});
    if (script_.crashAfterWrites != FakeScript::kNone && writes_ > script_.crashAfterWrites) {
        return false;
    }
    if (writes_ == script_.failWriteCall || Covers(first, count, script_.failWriteSector)) {
        return false;
    }
    return inner_->Write(first, count, buffer);
}

bool FakeDevice::Flush() {
    barriers_.push_back(trace_.size());
    const bool ok = inner_->Flush();
    if (barriers_.size() == script_.foreignAtBarrier) {
        if (script_.foreignWrite) script_.foreignWrite(*inner_);
        othersOpened_ = script_.foreignOpens;
    }
    return ok;
}

int FakeDevice::LockState() {
    if (locks_.Empty() && script_.foreignLock >= 0) return script_.foreignLock;
    return locks_.State();
}

bool FakeDevice::Lock(int level, bool) {
    ++lockRequests_;
    if (script_.foreignLock >= 0) return false;
    if (script_.allowLock && !script_.allowLock(level)) return false;
    if (!locks_.CanLock(level)) return false;
    locks_.Push(level);
    return true;
}

int FakeDevice::LockFlagState() {
    if (nextFlagState_ < script_.lockFlagStates.size()) {
        return script_.lockFlagStates[nextFlagState_++];
    }
    return script_.lockFlagAfter;
}

bool FakeDevice::OpenFile(uint32_t index, std::string& path) {
    if (index >= script_.openFiles.size()) return false;
    path = script_.openFiles[index];
    return true;
}

}  // namespace kestra::platform
