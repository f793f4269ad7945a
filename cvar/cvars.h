// The cvar list: the program's one table of named settings, integers or texts, found by name
// without regard to ASCII case. Subsystems publish handles and read their configuration here.
// Every registration and change is logged. A linear list: about ten records, in registration
// order, the first match wins.
#pragma once

#include <cstdint>

class cvar {
public:
    cvar() : name(nullptr), string_value(nullptr), int_value(0), next(nullptr) {}
    // Frees both texts and the rest of the chain behind this record.
    ~cvar();
    cvar(const cvar&) = delete;
    cvar& operator=(const cvar&) = delete;

    char* name;
    char* string_value;     // null for an int cvar
    std::int32_t int_value; // 0 for a string cvar
    cvar* next;
};

class cvars {
public:
    cvars();
    ~cvars() { destroy(); }
    cvars(const cvars&) = delete;
    cvars& operator=(const cvars&) = delete;

    // Adds an int cvar, or changes the value of the existing one (through set_int).
    int register_int(const char* name, std::int32_t value);
    // Appends a string cvar; a second registration of a name adds a second record.
    int register_string(const char* name, const char* value);
    // The value, or -1 when no record has that name (0 for a string cvar).
    std::int32_t get_int(const char* name) const;
    // The record's own text, valid until the list is destroyed; null when absent or an int cvar.
    const char* get_string(const char* name) const;
    // 1 when a value was changed; logs the change line with its verdict.
    int set_int(const char* name, std::int32_t value);
    // The first record of that name, null when none has it. A record lives until the list is
    // destroyed or emptied, and registering its int name again changes this same record.
    const cvar* find(const char* name) const;
    // Frees every record with its texts and leaves the list empty.
    void destroy();

    cvar* head;
    std::int32_t count;
    // Unique to this list and its records: a new list, or one emptied, has a new generation.
    std::uint32_t generation;

private:
    int append(cvar* record);
};

// An int cvar of the program's list found by name once and then read through its record, so a
// change of the value is seen at once without looking the name up at every use. The name is
// looked up again only while no record has it, or once the list's records are gone (a new or
// emptied list).
class cvar_handle {
public:
    explicit constexpr cvar_handle(const char* cvar_name) : name(cvar_name) {}

    // As main_cvars->get_int(name): -1 while no record has the name, 0 for a string cvar.
    std::int32_t value();

private:
    const char* name;
    const cvars* list = nullptr;
    std::uint32_t generation = 0;
    const cvar* record = nullptr;
};

// The program's cvar list, owned by the entry point; null while it does not exist.
extern cvars* main_cvars;
