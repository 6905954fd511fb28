// Portable pieces of the two desktop shells.
#pragma once
