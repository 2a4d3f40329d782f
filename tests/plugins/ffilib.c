/* A small C library that the foreign-call tests declare and call: one
 * function per native form of an argument and of a result, each giving back
 * what it received so that a test sees every argument arrive in its place. */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

int16_t ff_neg_short(int16_t v) { return (int16_t)-v; }
int32_t ff_sub_long(int32_t a, int32_t b) { return a - b; }
float ff_half_single(float x) { return x / 2.0f; }
double ff_scale_double(double x, int32_t times) { return x * times; }
double ff_sum3(float a, double b, int16_t c) { return a + b + c; }
int64_t ff_double_currency(int64_t hundredths) { return hundredths * 2; }
int32_t ff_length(const char* text) { return text ? (int32_t)strlen(text) : -1; }

/* Every by-value form in one call, written out as text. */
const char* ff_describe(int16_t s, int32_t l, float f, double d, int64_t c, const char* t) {
    static char text[160];
    snprintf(text, sizeof text, "s=%d l=%d f=%g d=%g c=%lld t=%s", s, l, (double)f, d, (long long)c, t);
    return text;
}

const char* ff_null_text(void) { return NULL; }

/* An object handle given is the only one a function may give back. */
const void* ff_same_object(const void* handle) { return handle; }
const void* ff_made_up_object(void) { return (const void*)(uintptr_t)0x1230; }

/* Out-parameters: each variable's storage, or the copy of it, changed. */
void ff_set_long(int32_t* out, int32_t v) { *out = v; }
void ff_bump_all(int16_t* s, int32_t* l, float* f, double* d, int64_t* c) {
    *s += 1;
    *l += 10;
    *f *= 2.0f;
    *d *= 4.0;
    *c += 5;
}
int32_t ff_inc_value(int32_t v) { return ++v; }
/* Every number form by reference, without a Currency. */
void ff_bump_numbers(int16_t* s, int32_t* l, float* f, double* d) {
    *s = (int16_t)(*s - 2);
    *l *= 3;
    *f += 0.25f;
    *d = -*d;
}

/* A by-reference String: changed in place, within its length ... */
void ff_upper_in_place(char** text) {
    for (char* p = *text; *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = (char)(*p - 'a' + 'A');
}
/* ... or the slot pointed at a text of the library's own. */
void ff_point_elsewhere(char** text) { *text = (char*)"from the library"; }
/* A callee that overwrites the copy's NUL: nothing past the copy is read. */
void ff_fill_all(char** text) { memset(*text, 'x', strlen(*text) + 1); }

/* errno as the library leaves it. */
void ff_fail_with(int32_t code) { errno = code; }
int32_t ff_no_error(void) { return 1; }
