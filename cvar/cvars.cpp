#include "cvar/cvars.h"

#include "base/log.h"

#include <cstring>
#include <new>

namespace {

std::uint32_t last_generation = 0;

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (ascii_lower(*a) != ascii_lower(*b))
            return false;
    return *a == *b;
}

// A heap copy of a text, or null when memory runs out.
char* copy_text(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    char* copy = new (std::nothrow) char[size];
    if (copy)
        std::memcpy(copy, text, size);
    return copy;
}

// A record with its own copies of the name and the value (null value: an int cvar).
cvar* make_record(const char* name, const char* string_value, std::int32_t int_value) {
    cvar* record = new (std::nothrow) cvar;
    if (!record)
        return nullptr;
    record->name = copy_text(name);
    record->string_value = string_value ? copy_text(string_value) : nullptr;
    record->int_value = int_value;
    if (!record->name || (string_value && !record->string_value)) {
        delete record;
        return nullptr;
    }
    return record;
}

} // namespace

cvar::~cvar() {
    int_value = 0;
    delete[] name;
    delete[] string_value;
    // The record owns its successors; unlinking them one by one keeps a long chain off the stack.
    cvar* rest = next;
    next = nullptr;
    while (rest) {
        cvar* after = rest->next;
        rest->next = nullptr;
        delete rest;
        rest = after;
    }
}

cvars::cvars() : head(nullptr), count(0), generation(++last_generation) {}

const cvar* cvars::find(const char* name) const {
    if (count < 1)
        return nullptr;
    std::int32_t looked_at = 0;
    for (const cvar* record = head; record && looked_at < count; record = record->next, ++looked_at)
        if (same_name(record->name, name))
            return record;
    return nullptr;
}

int cvars::append(cvar* record) {
    if (!record) {
        log_printf(main_log, "FAILED\n");
        return 0;
    }
    if (!head) {
        head = record;
    } else {
        cvar* last = head;
        while (last->next)
            last = last->next;
        last->next = record;
    }
    ++count;
    log_printf(main_log, "OK\n");
    return 1;
}

int cvars::register_int(const char* name, std::int32_t value) {
    if (find(name))
        return set_int(name, value);
    log_printf(main_log, " (cvar) registring int value %s : ", name);
    return append(make_record(name, nullptr, value));
}

int cvars::register_string(const char* name, const char* value) {
    log_printf(main_log, " (cvar) registring string value %s : ", name);
    return append(make_record(name, value, 0));
}

std::int32_t cvars::get_int(const char* name) const {
    const cvar* record = find(name);
    return record ? record->int_value : -1;
}

const char* cvars::get_string(const char* name) const {
    const cvar* record = find(name);
    return record ? record->string_value : nullptr;
}

int cvars::set_int(const char* name, std::int32_t value) {
    log_printf(main_log, " (cvars) changing value %s : ", name);
    if (!head) {
        log_printf(main_log, "FAILED\n");
        return 0;
    }
    for (cvar* record = head; record; record = record->next) {
        if (same_name(record->name, name)) {
            record->int_value = value;
            log_printf(main_log, "OK\n");
            return 1;
        }
    }
    log_printf(main_log, "FAILED [not found]\n");
    return 0;
}

void cvars::destroy() {
    if (count != 0) {
        delete head;
        head = nullptr;
    }
    count = 0;
    generation = ++last_generation; // the records are gone: every handle looks its name up again
}

std::int32_t cvar_handle::value() {
    if (!record || list != main_cvars || generation != main_cvars->generation) {
        list = main_cvars;
        generation = list ? list->generation : 0;
        record = list ? list->find(name) : nullptr;
    }
    if (!record)
        return -1; // as get_int of a missing name
    return record->int_value;
}
