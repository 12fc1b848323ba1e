#include "Core/ButtonRouter.hpp"

#include <algorithm>

#include "Support/ValueSupport.hpp"

namespace ravolet {

namespace {

// Enough for every button of a mouse and the keys and shifts they can hold at
// once; the lists only grow beyond this for unusual input.
constexpr std::size_t kReservedHeld = 16;

} // namespace

ButtonRouter::ButtonRouter(std::vector<ButtonBinding> bindings, std::int64_t baseDPI)
    : bindings(std::move(bindings)), baseDPI(baseDPI) {
    held_.reserve(kReservedHeld);
    heldKeyOwners_.reserve(kReservedHeld);
    dpiShifts_.reserve(kReservedHeld);
}

std::vector<ButtonIntent> ButtonRouter::handle(const ButtonEvent& event) {
    std::vector<ButtonIntent> out;
    handle(event, out);
    return out;
}

void ButtonRouter::handle(const ButtonEvent& event, std::vector<ButtonIntent>& out) {
    if (event.isDown)
        press(event, out);
    else
        release(event.button, out);
}

const Action* ButtonRouter::chooseAction(std::int64_t button, ModifierFlags modifiers) const {
    const ModifierFlags query = modifiers.normalized();
    const ButtonBinding* best = nullptr;
    ModifierFlags bestMask;
    for (const ButtonBinding& binding : bindings) {
        if (!binding.isEnabled || binding.button != button) continue;
        const ModifierFlags mask = binding.modifiers.normalized();
        if (!mask.isSubset(query)) continue;
        // The most specific binding wins; of equally specific ones the smaller
        // mask, and of equal masks the earlier binding.
        if (best == nullptr || mask.count() > bestMask.count() ||
            (mask.count() == bestMask.count() && mask.rawValue < bestMask.rawValue)) {
            best = &binding;
            bestMask = mask;
        }
    }
    return best == nullptr ? nullptr : &best->action;
}

Action ButtonRouter::action(std::int64_t button, ModifierFlags modifiers) const {
    const Action* chosen = chooseAction(button, modifiers);
    return chosen == nullptr ? Action::passThrough() : *chosen;
}

std::vector<ButtonRouter::HeldButton>::iterator ButtonRouter::findHeld(std::int64_t button) {
    return std::ranges::find(held_, button, &HeldButton::button);
}

std::vector<ButtonRouter::HeldButton>::const_iterator ButtonRouter::findHeld(std::int64_t button) const {
    return std::ranges::find(held_, button, &HeldButton::button);
}

std::vector<ButtonRouter::HeldKeyOwners>::iterator ButtonRouter::findOwners(const HeldKey& key) {
    return std::ranges::find(heldKeyOwners_, key, &HeldKeyOwners::key);
}

std::optional<Action> ButtonRouter::heldAction(std::int64_t button) const {
    const auto it = findHeld(button);
    if (it == held_.end()) return std::nullopt;
    return it->state.action;
}

std::set<std::int64_t> ButtonRouter::heldButtons() const {
    std::set<std::int64_t> buttons;
    for (const HeldButton& h : held_) buttons.insert(h.button);
    return buttons;
}

std::int64_t ButtonRouter::currentDPI() const { return dpiShifts_.empty() ? baseDPI : dpiShifts_.back().dpi; }

bool ButtonRouter::retainHeldKey(std::uint16_t code, ModifierFlags modifiers) {
    const HeldKey key{code, modifiers};
    const auto it = findOwners(key);
    if (it != heldKeyOwners_.end()) {
        // A stored count is never 0; were it, this press would be the first owner.
        return it->count++ == 0;
    }
    heldKeyOwners_.push_back({key, 1});
    return true;
}

bool ButtonRouter::releaseHeldKey(std::uint16_t code, ModifierFlags modifiers) {
    const auto it = findOwners(HeldKey{code, modifiers});
    if (it == heldKeyOwners_.end()) return true;
    if (it->count > 1) {
        --it->count;
        return false;
    }
    heldKeyOwners_.erase(it);
    return true;
}

void ButtonRouter::press(const ButtonEvent& event, std::vector<ButtonIntent>& out) {
    if (findHeld(event.button) != held_.end()) return;
    const Action* chosen = chooseAction(event.button, event.modifiers);
    held_.push_back({event.button, {chosen == nullptr ? Action::passThrough() : *chosen, event.timestampMillis,
                                    event.modifiers}});
    const std::int64_t button = event.button;
    std::visit(Overloaded{
                   [&](const Action::PassThrough&) { out.push_back(ButtonIntent::passThroughButton(button, true)); },
                   [&](const Action::KeyStroke& k) {
                       out.reserve(out.size() + 2);
                       out.push_back(ButtonIntent::keyDown(k.code, k.modifiers));
                       out.push_back(ButtonIntent::keyUp(k.code, k.modifiers));
                   },
                   [&](const Action::Sequence& s) {
                       std::size_t count = 0;
                       for (const MacroStep& step : s.steps) count += step.intentCount();
                       out.reserve(out.size() + count);
                       for (const MacroStep& step : s.steps) step.appendIntents(out);
                   },
                   [&](const Action::Hold& h) {
                       if (retainHeldKey(h.code, h.modifiers)) out.push_back(ButtonIntent::keyDown(h.code, h.modifiers));
                   },
                   [&](const Action::RepeatWhileHeld& r) {
                       out.reserve(out.size() + r.step.intentCount() + 1);
                       r.step.appendIntents(out);
                       // Never faster than once a millisecond; a NaN interval is treated as 1.
                       const double interval = r.intervalMillis >= 1 ? r.intervalMillis : 1;
                       out.push_back(ButtonIntent::startRepeat(RepeatToken{button, r.step, interval, event.timestampMillis}));
                   },
                   [&](const Action::DpiShift& d) {
                       const std::int64_t previous = currentDPI();
                       dpiShifts_.push_back({button, d.toDPI});
                       if (d.toDPI != previous) out.push_back(ButtonIntent::setDPI(d.toDPI));
                   },
                   [&](const Action::LaunchApp& l) { out.push_back(ButtonIntent::launchApp(l.bundleID)); },
                   [&](const Action::RunShortcut& r) { out.push_back(ButtonIntent::runShortcut(r.name)); },
               },
               held_.back().state.action.value);
}

void ButtonRouter::appendUndo(std::int64_t button, const Action& action, std::vector<ButtonIntent>& out) {
    if (const auto* hold = std::get_if<Action::Hold>(&action.value)) {
        if (releaseHeldKey(hold->code, hold->modifiers)) out.push_back(ButtonIntent::keyUp(hold->code, hold->modifiers));
    } else if (std::holds_alternative<Action::RepeatWhileHeld>(action.value)) {
        out.push_back(ButtonIntent::stopRepeat(button));
    } else if (std::holds_alternative<Action::PassThrough>(action.value)) {
        out.push_back(ButtonIntent::passThroughButton(button, false));
    }
}

void ButtonRouter::release(std::int64_t button, std::vector<ButtonIntent>& out) {
    const auto it = findHeld(button);
    if (it == held_.end()) {
        out.push_back(ButtonIntent::passThroughButton(button, false));
        return;
    }
    // The order of held_ carries no meaning (reset sorts), so the last entry fills the gap.
    const Action action = std::move(it->state.action);
    if (it != held_.end() - 1) *it = std::move(held_.back());
    held_.pop_back();

    if (std::holds_alternative<Action::DpiShift>(action.value)) {
        const std::int64_t previous = currentDPI();
        std::erase_if(dpiShifts_, [&](const DpiShift& s) { return s.button == button; });
        if (currentDPI() != previous) out.push_back(ButtonIntent::setDPI(currentDPI()));
    } else {
        appendUndo(button, action, out);
    }
}

std::vector<ButtonIntent> ButtonRouter::reset() {
    // Sorted by reference, so that no held action is moved.
    std::vector<const HeldButton*> ascending;
    ascending.reserve(held_.size());
    for (const HeldButton& h : held_) ascending.push_back(&h);
    std::ranges::sort(ascending, {}, [](const HeldButton* h) { return h->button; });
    std::vector<ButtonIntent> out;
    for (const HeldButton* h : ascending) appendUndo(h->button, h->state.action, out);
    held_.clear();
    heldKeyOwners_.clear();
    // Ends with the base DPI whenever a shift was held, even one to the base DPI itself.
    if (!dpiShifts_.empty()) {
        dpiShifts_.clear();
        out.push_back(ButtonIntent::setDPI(baseDPI));
    }
    return out;
}

} // namespace ravolet
