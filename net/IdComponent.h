#pragma once
// Components are created without an owner; each one keeps the process-wide
// socket stack alive for as long as it exists.

class TIdStack;

class TIdBaseComponent {
public:
    TIdBaseComponent() = default;
    virtual ~TIdBaseComponent() = default;
    TIdBaseComponent(const TIdBaseComponent&) = delete;
    TIdBaseComponent& operator=(const TIdBaseComponent&) = delete;
};

class TIdComponent : public TIdBaseComponent {
public:
    TIdComponent();
    ~TIdComponent() override;

protected:
    TIdStack& Stack() const { return *FStack; }

private:
    TIdStack* FStack;
};
