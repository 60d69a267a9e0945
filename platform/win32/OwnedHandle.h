#pragma once
// The one shape of every owner of a Win32 object in this code: it closes what it holds at scope end,
// cannot be copied, can be moved, and has Attach (take over a value, closing the one held before),
// Detach (give the value up without closing it) and Close. `Traits` names the value's type, the value
// that means "none" and the function that releases it:
//   struct Traits { using Type = ...; static bool IsNone(Type); static Type None(); static bool Release(Type); };
template <typename Traits>
class OwnedHandle {
public:
    using Type = typename Traits::Type;

    OwnedHandle() = default;
    explicit OwnedHandle(Type value) : value_(value) {}
    ~OwnedHandle() { Close(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    OwnedHandle(OwnedHandle&& other) noexcept : value_(other.Detach()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) Attach(other.Detach());
        return *this;
    }

    bool IsValid() const { return !Traits::IsNone(value_); }
    Type Get() const { return value_; }

    void Attach(Type value) {
        Close();
        value_ = value;
    }
    Type Detach() {
        const Type value = value_;
        value_ = Traits::None();
        return value;
    }
    // False when the system refused to release: a writer learns that its data may not have reached the
    // file. Nothing held is success.
    bool Close() {
        const bool released = Traits::IsNone(value_) || Traits::Release(value_);
        value_ = Traits::None();
        return released;
    }
    // For functions that hand a value out through a pointer (OpenProcessToken, RegOpenKeyExW and the
    // like); anything held before is closed first.
    Type* Receive() {
        Close();
        return &value_;
    }

private:
    Type value_ = Traits::None();
};
