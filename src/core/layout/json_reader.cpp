#include "core/layout/json_reader.h"

#include <climits>
#include <cstring>
#include <utility>

namespace qev {
namespace {

// Blocks double from a small first one, so a short text costs little and a long one
// few allocations.
constexpr std::size_t FirstBlockNodes = 16;
constexpr std::size_t MaxBlockNodes = 1024;

std::size_t BlockCapacity(std::size_t index)
{
    return index >= 6 ? MaxBlockNodes : FirstBlockNodes << index;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsArray(const JsonNode* node)
{
    return node && (node->type == JsonMemberArray || node->type == JsonElementArray);
}

// A number or bare word runs up to "," or "]" inside an array, and also up to "}"
// elsewhere.
bool EndsValue(char c, bool inArray)
{
    return c == ',' || c == ']' || (!inArray && c == '}');
}

// atoi over a text that only ever grows at its end, fed one character at a time, so a
// number that keeps growing costs linear time in total. Same result as ParseIntLikeAtoi:
// leading white space, optional sign, digits; clamped to the 32-bit range.
class AtoiAccumulator {
public:
    void Feed(char c)
    {
        switch (stage_) {
        case Stage::Space:
            if (c == ' ' || (c >= '\t' && c <= '\r')) return;
            stage_ = Stage::Sign;
            [[fallthrough]];
        case Stage::Sign:
            stage_ = Stage::Digits;
            if (c == '+' || c == '-') {
                negative_ = c == '-';
                return;
            }
            [[fallthrough]];
        case Stage::Digits:
            if (c >= '0' && c <= '9') {
                magnitude_ = magnitude_ * 10 + (c - '0');
                if (magnitude_ > Limit) magnitude_ = Limit;
                return;
            }
            stage_ = Stage::Done;
            return;
        case Stage::Done: return;
        }
    }
    int Result() const
    {
        if (negative_) return static_cast<int>(-magnitude_);
        return magnitude_ > INT_MAX ? INT_MAX : static_cast<int>(magnitude_);
    }

private:
    static constexpr long long Limit = static_cast<long long>(INT_MAX) + 1;
    enum class Stage { Space, Sign, Digits, Done };
    Stage stage_ = Stage::Space;
    bool negative_ = false;
    long long magnitude_ = 0;
};

// While parsing, a container's firstChild points at its LAST child, whose nextSibling
// points back at the first one (a ring). Appending is then O(1) without a field of its
// own; RestoreChains turns every ring back into a plain chain once the text is read.
void AppendChild(JsonNode* container, JsonNode* node)
{
    node->parent = container;
    if (JsonNode* last = container->firstChild) {
        node->nextSibling = last->nextSibling;
        last->nextSibling = node;
    } else {
        node->nextSibling = node;
    }
    container->firstChild = node;
}

class Parser {
public:
    Parser(JsonReader& reader, JsonNode* (*newNode)(JsonReader&))
        : reader_(reader), newNode_(newNode), s_(reader.text.data()), n_(reader.text.size())
    {
    }

    void Run()
    {
        const void* brace = std::memchr(s_, '{', n_);
        if (!brace) return;
        std::size_t i = static_cast<std::size_t>(static_cast<const char*>(brace) - s_) + 1;
        while (i < n_) {
            const char c = s_[i];
            if (c == ',') {
                expectingKey_ = true;
                ++i;
            } else if (c == ':') {
                expectingKey_ = false;
                ++i;
            } else if (c == '[' || c == '{') {
                OpenContainer(c == '[');
                ++i;
            } else if (c == ']' || c == '}') {
                if (container_) container_ = container_->parent;
                expectingKey_ = true;
                ++i;
            } else if (c == '"') {
                i = ReadString(i);
            } else if (c >= '1' && c <= '9') {
                i = ReadNumber(i);
            } else if (IsLetter(c)) {
                i = ReadWord(i);
            } else {
                ++i; // white space, the digit 0, "-", "." and anything else
            }
        }
    }

private:
    JsonNode* NewNode() { return newNode_(reader_); }

    // Where no container is open the node joins the top-level chain.
    void Link(JsonNode* node)
    {
        if (container_) {
            AppendChild(container_, node);
        } else {
            if (lastTop_)
                lastTop_->nextSibling = node;
            else
                reader_.first = node;
            lastTop_ = node;
        }
    }

    void SetCurrent(JsonNode* node)
    {
        current_ = node;
        accumulatorFed_ = 0;
        accumulator_ = AtoiAccumulator();
    }

    void OpenContainer(bool array)
    {
        if (expectingKey_) {
            JsonNode* node = NewNode();
            node->type = array ? JsonElementArray : JsonElementObject;
            Link(node);
            container_ = node;
        } else if (current_) {
            current_->type = array ? JsonMemberArray : JsonMemberObject;
            expectingKey_ = true;
            container_ = current_;
        }
        // A value before the first key has nothing to attach to: ignored.
    }

    std::size_t SkipTo(std::size_t i, const char* stops) const
    {
        while (i < n_ && !std::strchr(stops, s_[i])) ++i;
        return i;
    }

    // The closing quote is the first one not directly after a backslash; nothing is
    // unescaped. A string cut off by the end keeps what was read.
    std::size_t ReadString(std::size_t open)
    {
        std::size_t j = open + 1;
        while (j < n_ && !(s_[j] == '"' && s_[j - 1] != '\\')) ++j;
        const std::string_view text(s_ + open + 1, j - open - 1);
        std::size_t next = j < n_ ? j + 1 : n_;
        if (expectingKey_) {
            JsonNode* node = NewNode();
            SetCurrent(node);
            node->key.assign(text);
            if (IsArray(container_)) {
                node->value = node->key;
                node->type = JsonElementString;
                next = SkipTo(next, ",]");
            } else {
                next = SkipTo(next, ":");
            }
            Link(node);
        } else {
            if (current_) {
                current_->value.assign(text);
                // The value was replaced, not extended: the number restarts from it.
                accumulator_ = AtoiAccumulator();
                accumulatorFed_ = 0;
            }
            next = SkipTo(next, ",]}");
        }
        return next;
    }

    std::size_t ReadNumber(std::size_t i)
    {
        const bool inArray = IsArray(container_);
        JsonNode* target = nullptr;
        if (inArray) {
            target = NewNode();
            target->type = JsonElementNumber;
            AppendChild(container_, target);
            SetCurrent(target);
        } else if (current_) {
            target = current_;
            target->type = JsonMemberNumber;
        }
        // i > 0: parsing starts after the opening brace.
        if (target && s_[i - 1] == '-') target->value += '-';
        std::size_t j = i;
        for (; j < n_ && !EndsValue(s_[j], inArray); ++j) {
            if (target && !IsSpace(s_[j])) target->value += s_[j];
        }
        if (target) {
            for (; accumulatorFed_ < target->value.size(); ++accumulatorFed_)
                accumulator_.Feed(target->value[accumulatorFed_]);
            target->number = accumulator_.Result();
        }
        return j;
    }

    // Quote characters (either kind) toggle a quoted stretch in which separators do not
    // end the word; they are kept in the literal, white space is dropped.
    std::size_t ReadWord(std::size_t i)
    {
        const bool inArray = IsArray(container_);
        JsonNode* target = nullptr;
        if (inArray) {
            target = NewNode();
            AppendChild(container_, target);
            SetCurrent(target);
        } else {
            target = current_;
        }
        bool quoted = false;
        std::size_t j = i;
        for (; j < n_; ++j) {
            const char c = s_[j];
            if (!quoted && EndsValue(c, inArray)) break;
            if (c == '"' || c == '\'') quoted = !quoted;
            if (target && !IsSpace(c)) target->literal += c;
        }
        if (target) {
            const bool boolean = target->literal == "true" || target->literal == "false";
            if (inArray)
                target->type = boolean ? JsonElementBool : JsonElementWord;
            else
                target->type = boolean ? JsonMemberBool : JsonMemberWord;
        }
        return j;
    }

    JsonReader& reader_;
    JsonNode* (*newNode_)(JsonReader&);
    const char* s_;
    std::size_t n_;
    JsonNode* container_ = nullptr;
    JsonNode* current_ = nullptr;
    JsonNode* lastTop_ = nullptr;
    bool expectingKey_ = true;
    // atoi state of current_'s value, fed up to accumulatorFed_ characters.
    AtoiAccumulator accumulator_;
    std::size_t accumulatorFed_ = 0;
};

} // namespace

JsonReader::JsonReader(JsonReader&& other) noexcept
    : text(std::move(other.text)), first(std::exchange(other.first, nullptr)),
      blocks_(std::move(other.blocks_)), usedInLastBlock_(std::exchange(other.usedInLastBlock_, 0))
{
    other.blocks_.clear();
}

JsonReader& JsonReader::operator=(JsonReader&& other) noexcept
{
    if (this != &other) {
        ReleaseJson(*this);
        text = std::move(other.text);
        first = std::exchange(other.first, nullptr);
        blocks_ = std::move(other.blocks_);
        other.blocks_.clear();
        usedInLastBlock_ = std::exchange(other.usedInLastBlock_, 0);
    }
    return *this;
}

JsonReader::~JsonReader()
{
    ReleaseJson(*this);
}

JsonNode* JsonReader::NewNode()
{
    if (blocks_.empty() || usedInLastBlock_ == BlockCapacity(blocks_.size() - 1)) {
        blocks_.push_back(std::make_unique<JsonNode[]>(BlockCapacity(blocks_.size())));
        usedInLastBlock_ = 0;
    }
    return &blocks_.back()[usedInLastBlock_++];
}

bool ParseJson(const char* text, JsonReader& reader)
{
    ReleaseJson(reader);
    if (!text || !*text) return false;
    reader.text.assign(text);
    Parser parser(reader, [](JsonReader& r) { return r.NewNode(); });
    parser.Run();

    // RestoreChains: every ring (see AppendChild) becomes a plain chain again.
    for (std::size_t b = 0; b < reader.blocks_.size(); ++b) {
        const std::size_t count =
            b + 1 == reader.blocks_.size() ? reader.usedInLastBlock_ : BlockCapacity(b);
        for (std::size_t k = 0; k < count; ++k) {
            JsonNode& node = reader.blocks_[b][k];
            if (JsonNode* last = node.firstChild) {
                node.firstChild = last->nextSibling;
                last->nextSibling = nullptr;
            }
        }
    }
    return true;
}

const JsonNode* FindMember(const JsonReader& reader, std::string_view key)
{
    for (const JsonNode* node = reader.first; node; node = node->nextSibling)
        if (node->key == key) return node;
    return nullptr;
}

const JsonNode* FindChild(const JsonNode* node, std::string_view key)
{
    if (!node) return nullptr;
    for (const JsonNode* child = node->firstChild; child; child = child->nextSibling)
        if (child->key == key) return child;
    return nullptr;
}

void ReleaseJson(JsonReader& reader)
{
    // Blocks are freed one after another; nothing walks the tree.
    reader.first = nullptr;
    reader.blocks_.clear();
    reader.blocks_.shrink_to_fit();
    reader.usedInLastBlock_ = 0;
    reader.text.clear();
    reader.text.shrink_to_fit();
}

} // namespace qev
