#include "source.hpp"

namespace morvelan {

namespace {

class OwnedSource final : public SourceText {
public:
    explicit OwnedSource(std::string_view text) : text_(text.data(), text.size()) {
        view_ = std::string_view(text_.data(), text_.size());
    }

private:
    String text_;
};

}  // namespace

SourceBuffer copy_source(std::string_view text) {
    return std::allocate_shared<OwnedSource>(Allocator<OwnedSource>(), text);
}

}  // namespace morvelan
