#include "net/Parameter.h"

namespace ornbrook {

std::int32_t Parameter::GetAnzahlParameter() const {
    return static_cast<std::int32_t>(texts_.size()) - 1;
}

void Parameter::AddParameter(const std::string& theParameter) {
    texts_.push_back(theParameter);
}

std::string Parameter::GetParameter(std::int32_t Index) const {
    if (Index < 0 || Index > GetAnzahlParameter())
        return {};
    return texts_[static_cast<std::size_t>(Index)];
}

} // namespace ornbrook
