#pragma once
// PLACEHOLDER: replaced by the Qt window.
