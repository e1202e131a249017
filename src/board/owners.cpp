#include "board/owners.h"

#include <sodium.h>

#include <strings.h>

#include <cctype>
#include <cstring>
#include <map>

#include "board/fields.h"
#include "board/names.h"

namespace kiv::board {

namespace {

// Letters and digits that cannot be taken for one another: no 0, 1, I or O.
constexpr const char* CODE_LETTERS = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
constexpr size_t CODE_SIZE = 8;
constexpr size_t SECRET_BYTES = 16;

// The work of hashing a pairing code (Argon2id): about 7 ms of one core.
constexpr unsigned long long CODE_OPS = 2;
constexpr size_t CODE_MEMORY = 8 * 1024 * 1024;

// A secret as the board keeps it: its hash. (A fast hash is right for 128
// random bits.)
Blob hash_of(const std::string& bytes)
{
    unsigned char h[crypto_generichash_BYTES];
    crypto_generichash(h, sizeof h, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr, 0);
    return Blob{std::string(reinterpret_cast<const char*>(h), sizeof h)};
}

// A pairing code as the board keeps it: a slow hash under the board's own
// salt, so that a copy of the database does not give away a code within its
// ten minutes (40 bits: at 7 ms a guess, millions of cores to find one in
// time).
Blob code_hash(Db& db, const std::string& code)
{
    const Rows salt = db.run("SELECT value FROM meta WHERE item = 'pairing salt'");
    unsigned char bytes[crypto_pwhash_SALTBYTES] = {};
    size_t size = 0;
    if (salt.empty() || sodium_hex2bin(bytes, sizeof bytes, salt[0].text(0).c_str(), salt[0].text(0).size(), nullptr,
                                       &size, nullptr) != 0 || size != sizeof bytes)
        throw StoreError("the board has no salt for pairing codes");
    unsigned char h[crypto_generichash_BYTES];
    if (crypto_pwhash(h, sizeof h, code.data(), code.size(), bytes, CODE_OPS, CODE_MEMORY,
                      crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw StoreError("no memory to hash a pairing code");
    return Blob{std::string(reinterpret_cast<const char*>(h), sizeof h)};
}

// A new secret for an owner, in the caller's transaction: its text.
std::string add_secret(Db& db, std::int64_t owner)
{
    unsigned char bytes[SECRET_BYTES];
    randombytes_buf(bytes, sizeof bytes);
    char hex[2 * SECRET_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    db.run("INSERT INTO secrets (hash, owner, created_ms) VALUES (?, ?, ?)",
           {hash_of(std::string(reinterpret_cast<const char*>(bytes), sizeof bytes)), owner, now_ms()});
    return hex;
}

// The owner of a name as typed, by its key.
std::optional<Owner> find_owner(Db& db, const std::string& name)
{
    const Rows r = db.run("SELECT id, name FROM owners WHERE name_key = ?", {name_key(name)});
    if (r.empty())
        return std::nullopt;
    return Owner{r[0].integer(0), r[0].text(1)};
}

// A name as typed into a claim or a rename: its shape, then its scripts.
bool good_name(std::string* name, std::string* why)
{
    return check_name(name, why) && check_scripts(*name, why);
}

std::string new_code(Db& db, std::int64_t owner, std::int64_t* expires_ms)
{
    std::string code;
    for (size_t i = 0; i < CODE_SIZE; i++)
        code += CODE_LETTERS[randombytes_uniform(32)];
    const Blob hash = code_hash(db, code);
    *expires_ms = now_ms() + PAIRING_MS;
    db.run("INSERT INTO pairings (hash, owner, expires_ms) VALUES (?, ?, ?)", {hash, owner, *expires_ms});
    return code.substr(0, 4) + "-" + code.substr(4);
}

} // namespace

Answer claim_name(Db& db, const std::string& body)
{
    std::map<std::string, std::string> fields;
    std::string why;
    if (!read_fields(body, {{"name", 256}}, &fields, &why))
        return error(400, why);
    std::string name = fields["name"];
    if (!good_name(&name, &why))
        return error(400, why);
    Transaction t(db);
    const Rows held = db.run("SELECT reserved FROM owners WHERE name_key = ?", {name_key(name)});
    if (!held.empty())
        return error(409, held[0].integer(0) ? "That name is reserved for the player who had it on the board before "
                                               "names were owned; the board's operator can hand it over."
                                             : "That name is taken.");
    const Rows made = db.run("INSERT INTO owners (name_key, name, created_ms) VALUES (?, ?, ?) "
                             "ON CONFLICT (name_key) DO NOTHING RETURNING id",
                             {name_key(name), name, now_ms()});
    if (made.empty())
        return error(409, "That name is taken.");
    const std::string secret = add_secret(db, made[0].integer(0));
    t.commit();
    return json_answer(201, json{{"name", name}, {"secret", secret}});
}

Answer no_owner()
{
    Answer a = error(401, "This needs the secret of a name claimed here (Authorization: Bearer SECRET).");
    a.headers.push_back({"WWW-Authenticate", "Bearer"});
    return a;
}

std::optional<Owner> owner_of(Db& db, const char* authorization)
{
    if (!authorization || strncasecmp(authorization, "Bearer ", 7) != 0)
        return std::nullopt;
    const char* hex = authorization + 7;
    while (*hex == ' ')
        hex++;
    unsigned char bytes[SECRET_BYTES];
    size_t size = 0;
    const char* end = nullptr;
    if (std::strlen(hex) != 2 * SECRET_BYTES ||
        sodium_hex2bin(bytes, sizeof bytes, hex, 2 * SECRET_BYTES, nullptr, &size, &end) != 0 || size != sizeof bytes)
        return std::nullopt;
    const Rows r = db.run("SELECT o.id, o.name FROM secrets s JOIN owners o ON o.id = s.owner WHERE s.hash = ?",
                          {hash_of(std::string(reinterpret_cast<const char*>(bytes), sizeof bytes))});
    if (r.empty())
        return std::nullopt;
    return Owner{r[0].integer(0), r[0].text(1)};
}

Answer make_pairing(Db& db, const Owner& owner)
{
    std::int64_t expires = 0;
    const std::string code = new_code(db, owner.id, &expires);
    return json_answer(201, json{{"code", code}, {"expires", (expires + 999) / 1000}});
}

Answer use_pairing(Db& db, const std::string& body)
{
    std::map<std::string, std::string> fields;
    std::string why;
    if (!read_fields(body, {{"code", 64}}, &fields, &why))
        return error(400, why);
    // As typed: case, dashes and spaces aside.
    std::string code;
    for (char c : fields["code"])
        if (c != '-' && c != ' ')
            code += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (code.size() != CODE_SIZE || code.find_first_not_of(CODE_LETTERS) != std::string::npos)
        return error(400, "A pairing code is eight letters and digits, such as ABCD-EFGH.");
    const Blob hash = code_hash(db, code);
    Transaction t(db);
    const Rows r = db.run("SELECT p.owner, p.expires_ms, p.used, o.name FROM pairings p JOIN owners o "
                          "ON o.id = p.owner WHERE p.hash = ?",
                          {hash});
    if (r.empty())
        return error(404, "There is no such pairing code.");
    if (r[0].integer(2))
        return error(409, "That pairing code was used already: ask for a new one where the name is held.");
    if (r[0].integer(1) <= now_ms())
        return error(409, "That pairing code has expired: ask for a new one where the name is held.");
    db.run("UPDATE pairings SET used = 1 WHERE hash = ?", {hash});
    db.run("UPDATE owners SET reserved = 0 WHERE id = ?", {r[0].integer(0)});
    const std::string secret = add_secret(db, r[0].integer(0));
    t.commit();
    return json_answer(201, json{{"name", r[0].text(3)}, {"secret", secret}});
}

std::vector<NameRow> list_names(Db& db)
{
    std::vector<NameRow> names;
    for (const Row& r : db.run("SELECT o.name, o.reserved, (SELECT count(*) FROM secrets s WHERE s.owner = o.id), "
                               "(SELECT count(*) FROM games g WHERE g.owner = o.id AND g.status = 1) "
                               "FROM owners o ORDER BY o.name"))
        names.push_back(NameRow{r.text(0), r.integer(1) != 0, static_cast<long>(r.integer(2)),
                                static_cast<long>(r.integer(3))});
    return names;
}

bool release_name(Db& db, const std::string& name, std::string* held, long* games, std::string* why)
{
    Transaction t(db);
    const std::optional<Owner> owner = find_owner(db, name);
    if (!owner) {
        *why = "no name " + name + " is held";
        return false;
    }
    *held = owner->name;
    // Its games stay on the board under the name as text; its running
    // games end here.
    db.run("UPDATE tickets SET state = 2 WHERE owner = ? AND state < 2", {owner->id});
    *games = static_cast<long>(
        db.run("SELECT count(*) FROM games WHERE owner = ? AND status = 1", {owner->id}).at(0).integer(0));
    db.run("DELETE FROM owners WHERE id = ?", {owner->id});
    t.commit();
    return true;
}

bool rename_name(Db& db, const std::string& from, const std::string& to_typed, std::string* held, long* games,
                 std::string* why)
{
    std::string to = to_typed;
    if (!good_name(&to, why))
        return false;
    Transaction t(db);
    const std::optional<Owner> owner = find_owner(db, from);
    if (!owner) {
        *why = "no name " + from + " is held";
        return false;
    }
    const std::optional<Owner> other = find_owner(db, to);
    if (other && other->id != owner->id) {
        *why = to + " is held already (as " + other->name + ")";
        return false;
    }
    *held = owner->name;
    *games = static_cast<long>(
        db.run("SELECT count(*) FROM games WHERE owner = ? AND status = 1", {owner->id}).at(0).integer(0));
    db.run("UPDATE owners SET name_key = ?, name = ? WHERE id = ?", {name_key(to), to, owner->id});
    db.run("UPDATE games SET name = ? WHERE owner = ?", {to, owner->id});
    t.commit();
    return true;
}

bool pair_name(Db& db, const std::string& name, std::string* held, std::string* code, std::int64_t* expires_ms,
               std::string* why)
{
    Transaction t(db);
    const std::optional<Owner> owner = find_owner(db, name);
    if (!owner) {
        *why = "no name " + name + " is held";
        return false;
    }
    *held = owner->name;
    *code = new_code(db, owner->id, expires_ms);
    t.commit();
    return true;
}

} // namespace kiv::board
