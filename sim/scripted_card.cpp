#include "sim/scripted_card.h"

namespace zrn::sim {

ScriptedCard::ScriptedCard(std::vector<Step> steps) : steps_(std::move(steps)) {}

long ScriptedCard::transmit(ByteView command, Bytes& response) {
    const std::size_t stepNumber = next_ + 1;
    if (!failure_.empty()) {
        response = {0x6F, 0x00};
        return 0;
    }
    if (next_ >= steps_.size()) {
        failure_ = "step " + std::to_string(stepNumber) + ": unexpected command " + toHex(command) +
                   " after the end of the script";
        response = {0x6F, 0x00};
        return 0;
    }
    const Step& step = steps_[next_++];
    Bytes expected;
    if (!fromHex(step.command, expected)) {
        failure_ = "step " + std::to_string(stepNumber) + ": bad hex in script";
        response = {0x6F, 0x00};
        return 0;
    }
    if (!std::equal(expected.begin(), expected.end(), command.begin(), command.end())) {
        failure_ = "step " + std::to_string(stepNumber) + ": expected " + toHex(expected) +
                   ", got " + toHex(command);
        response = {0x6F, 0x00};
        return 0;
    }
    if (step.transportError != 0) {
        return step.transportError;
    }
    if (!fromHex(step.response, response)) {
        failure_ = "step " + std::to_string(stepNumber) + ": bad response hex in script";
        response = {0x6F, 0x00};
    }
    return 0;
}

std::string ScriptedCard::verify() const {
    if (!failure_.empty()) {
        return failure_;
    }
    if (next_ != steps_.size()) {
        return "only " + std::to_string(next_) + " of " + std::to_string(steps_.size()) +
               " steps were played; next expected " + steps_[next_].command;
    }
    return "";
}

}  // namespace zrn::sim
