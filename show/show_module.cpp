// The show's module initialisation and finalisation live beside the units that own module data.
