// SecureString: the byte string type for passwords. It is a type of its own so
// that a password can only be passed where one is expected (the credentials
// constructors), and it keeps no copy of its bytes behind: the allocator
// `AvSecurity::allocator` wipes heap memory before returning it, and the string
// wipes its own buffer (including the inline short-string buffer) when it is
// destroyed. Passwords enter it as UTF-8 bytes up to the first zero byte.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace AvSecurity {

// Overwrites memory in a way the optimiser may not drop.
void secureWipe(void* data, std::size_t size) noexcept;

// Heap allocator that wipes memory before releasing it.
template <class T>
struct allocator
{
    using value_type = T;

    allocator() noexcept = default;
    template <class U>
    allocator(const allocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t count) { return std::allocator<T>{}.allocate(count); }
    void deallocate(T* pointer, std::size_t count) noexcept
    {
        secureWipe(pointer, count * sizeof(T));
        std::allocator<T>{}.deallocate(pointer, count);
    }

    template <class U>
    bool operator==(const allocator<U>&) const noexcept
    {
        return true;
    }
};

} // namespace AvSecurity

class SecureString : public std::basic_string<char, std::char_traits<char>, AvSecurity::allocator<char>>
{
public:
    using Base = std::basic_string<char, std::char_traits<char>, AvSecurity::allocator<char>>;
    using Base::Base;

    SecureString() = default;
    SecureString(const Base& other)
        : Base(other)
    {
    }
    SecureString(Base&& other) noexcept
        : Base(std::move(other))
    {
    }
    SecureString(const SecureString& other) = default;
    SecureString(SecureString&& other) noexcept = default;
    SecureString& operator=(const SecureString& other) = default;
    SecureString& operator=(SecureString&& other) noexcept = default;
    ~SecureString() { AvSecurity::secureWipe(data(), capacity()); }
};
