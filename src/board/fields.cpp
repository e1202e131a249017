#include "board/fields.h"

#include <sodium.h>

#include <nlohmann/json.hpp>

namespace kiv::board {

namespace {

using json = nlohmann::json;

// Follows the parse event by event and stops it at the first thing out of
// bounds: returning false from an event ends sax_parse there.
class Reader : public nlohmann::json_sax<json> {
public:
    Reader(const std::vector<FieldBound>& fields, std::map<std::string, std::string>* out)
        : fields_(fields), out_(out)
    {
    }
    std::string error;

    bool null() override { return scalar(); }
    bool boolean(bool value) override
    {
        if (!field_ || !field_->boolean || depth_ != 1)
            return scalar();
        if (!count())
            return false;
        (*out_)[field_->name] = value ? "true" : "false";
        field_ = nullptr;
        return true;
    }
    bool number_integer(number_integer_t) override { return scalar(); }
    bool number_unsigned(number_unsigned_t value) override
    {
        if (!field_ || !field_->number || depth_ != 1)
            return scalar();
        if (!count())
            return false;
        if (value > field_->max_bytes)
            return wrong_type();
        (*out_)[field_->name] = std::to_string(value);
        field_ = nullptr;
        return true;
    }
    bool number_float(number_float_t, const string_t&) override { return scalar(); }
    bool binary(binary_t&) override { return scalar(); }

    bool string(string_t& value) override
    {
        if (!count())
            return false;
        if (depth_ == 0)
            return refuse("The request body is not a JSON object.");
        if (!field_)
            return value.size() <= MAX_JSON_OTHER_STRING || refuse("The request's JSON holds too long a string.");
        if (field_->boolean || field_->number)
            return wrong_type();
        if (value.size() > field_->max_bytes)
            return refuse(std::string("The field \"") + field_->name + "\" is too long (at most " +
                          std::to_string(field_->max_bytes) + " bytes).");
        (*out_)[field_->name] = std::move(value);
        field_ = nullptr;
        return true;
    }

    bool start_object(std::size_t) override { return open(); }
    bool start_array(std::size_t) override
    {
        if (depth_ == 0)
            return refuse("The request body is not a JSON object.");
        return open();
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t& name) override
    {
        if (!count())
            return false;
        if (depth_ != 1)
            return name.size() <= MAX_JSON_OTHER_STRING || refuse("The request's JSON holds too long a string.");
        field_ = nullptr;
        for (const FieldBound& f : fields_)
            if (name == f.name)
                field_ = &f;
        if (field_ && out_->count(field_->name))
            return refuse(std::string("The field \"") + field_->name + "\" is given twice.");
        return name.size() <= MAX_JSON_OTHER_STRING || refuse("The request's JSON holds too long a string.");
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
    {
        if (error.empty())
            error = "The request body is not a JSON object.";
        return false;
    }

private:
    bool refuse(std::string why)
    {
        error = std::move(why);
        return false;
    }
    // Every key and value counts.
    bool count()
    {
        return ++elements_ <= MAX_JSON_ELEMENTS ||
               refuse("The request's JSON is nested too deeply or holds too many values.");
    }
    // A value other than a string where a field wants one.
    bool wrong_type()
    {
        return refuse(std::string("The field \"") + field_->name + "\" must be " +
                      (field_->boolean  ? "true or false."
                       : field_->number ? "a whole number from 0 to " + std::to_string(field_->max_bytes) + "."
                                        : "a string."));
    }
    bool scalar()
    {
        if (!count())
            return false;
        if (depth_ == 0)
            return refuse("The request body is not a JSON object.");
        return field_ ? wrong_type() : true;
    }
    bool open()
    {
        if (!count())
            return false;
        if (field_)
            return wrong_type();
        return ++depth_ <= MAX_JSON_DEPTH || refuse("The request's JSON is nested too deeply or holds too many values.");
    }
    bool close()
    {
        depth_--;
        return true;
    }

    const std::vector<FieldBound>& fields_;
    std::map<std::string, std::string>* out_;
    const FieldBound* field_ = nullptr;  // the field whose value comes next
    int depth_ = 0;
    int elements_ = 0;
};

} // namespace

bool read_fields(const std::string& body, const std::vector<FieldBound>& fields,
                 std::map<std::string, std::string>* out, std::string* error)
{
    out->clear();
    Reader reader(fields, out);
    if (!json::sax_parse(body, &reader, json::input_format_t::json, true, false)) {
        *error = reader.error.empty() ? "The request body is not a JSON object." : reader.error;
        return false;
    }
    for (const FieldBound& f : fields)
        if (!f.boolean && !f.number && !f.optional && !out->count(f.name)) {
            *error = std::string("The field \"") + f.name + "\" must be a string.";
            return false;
        }
    return true;
}

bool from_base64(const std::string& text, std::string* bytes)
{
    bytes->assign(text.size() / 4 * 3 + 3, '\0');
    size_t size = 0;
    const char* end = nullptr;
    if (text.empty() ||
        sodium_base642bin(reinterpret_cast<unsigned char*>(bytes->data()), bytes->size(), text.data(), text.size(),
                          nullptr, &size, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size())
        return false;
    bytes->resize(size);
    return true;
}

std::string to_base64(const std::string& bytes)
{
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();  // its NUL
    return text;
}

} // namespace kiv::board
