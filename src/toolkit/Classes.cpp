#include "toolkit/Classes.h"

#include <algorithm>

void TObject::Free() {
  BeforeDestruction();
  delete this;
}

TNotifyEvent TNotifyEvent::Function(std::function<void(TObject*)> fn) {
  TNotifyEvent e;
  e.FFunction = std::make_shared<std::function<void(TObject*)>>(std::move(fn));
  e.FCode = e.FFunction.get();
  e.FData = e.FFunction.get();
  e.FCall = [](void* data, TObject* sender) {
    (*static_cast<std::function<void(TObject*)>*>(data))(sender);
  };
  return e;
}

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
  if (FOwner != nullptr) FOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  // Last created first; each one takes itself out of the list as it goes.
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    c->Free();
  }
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : FComponents) {
    if (c->FName == name) return c;
  }
  return nullptr;
}

void TComponent::RemoveComponent(TComponent* c) {
  auto it = std::find(FComponents.begin(), FComponents.end(), c);
  if (it != FComponents.end()) FComponents.erase(it);
  c->FOwner = nullptr;
}
