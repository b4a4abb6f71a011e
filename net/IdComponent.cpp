#include "net/IdComponent.h"

#include "net/IdStack.h"

TIdComponent::TIdComponent() : FStack(&TIdStack::Acquire()) {}

TIdComponent::~TIdComponent()
{
    TIdStack::Release();
}
