#include "app/frame_outputs.h"

namespace tidewell {

void FrameOutputs::send(const std::string& frame, bool toSerial, bool toUdp) {
    if (toSerial) sendSerial(frame);
    if (toUdp) sendUdp(frame);
}

// A failed serial write is counted and dropped, never retried.
void FrameOutputs::sendSerial(const std::string& frame) {
    const std::uint64_t droppedBefore = serial_.droppedWrites();
    try {
        serial_.Output(frame);
        if (serial_.droppedWrites() == droppedBefore) return events_.frameSent(Output::Serial, frame);
        ++serialFailures_;
        events_.frameFailed(Output::Serial,
                            Error(errors::TransientSend, "The display is not reading; frame dropped"));
    } catch (const Error& e) {
        ++serialFailures_;
        events_.frameFailed(Output::Serial, e);
    }
}

void FrameOutputs::sendUdp(const std::string& frame) {
    try {
        udp_.SendData(frame);
        events_.frameSent(Output::Udp, frame);
    } catch (const Error& e) {
        events_.frameFailed(Output::Udp, e);
        if (e.number() == errors::TransientSend) return;
        // One box at a time: ticks go on while it is open, and a failing network would
        // otherwise stack a new box every second.
        if (udpErrorOpen_) return;
        udpErrorOpen_ = true;
        try {
            shell_.messageBox(e.description(), std::to_string(e.number()), MsgBoxIcon::Critical,
                              MsgBoxButtons::Ok);
        } catch (...) {
            udpErrorOpen_ = false;
            throw;
        }
        udpErrorOpen_ = false;
    }
}

}  // namespace tidewell
