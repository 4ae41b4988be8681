# Reconstructs every slice of the sample data set that scripts/demo generates, with the
# reconstruction workers, and saves CT image data files and pictures.
# Run from the folder that holds data/:  vexa2 -nw -b demo.bat -x
# Exit status 0: every slice was reconstructed and written.

# Vertical rotation axis (detector lines are image rows); I0 and BG images.
ct_rot_ax_is_v 1
i0_load data/ref/I0.img
bg_load data/ref/BG.img

# The projections; the batch goes on when the last one is loaded.
images_load data *.img

# Centre of rotation (the generator put the axis 1.3 pixels right of the middle) and the
# slice range, reconstructed by the workers.
ct_cor 129.3
ct_slice_from 0
ct_slice_to 63
ct_slice_step 1
ct_auto_exec 1

# The zero-padded ramp: bodies read their true value whatever part of the field they fill.
ct_filter ramp_padded

# Automatic saving: data files and pictures, one folder each, no sub folders.
auto_save_in_sub_folders 0
auto_save_data_path recon/data
auto_save_data_tag demo
auto_save_data 1
auto_save_image_path recon/img
auto_save_image_tag demo
auto_save_image 1

# Start the run; the next line waits until every slice is done.
calc_exec
:echo Demo batch finished

# End the program once every file is written; the exit status says whether anything failed.
quit
