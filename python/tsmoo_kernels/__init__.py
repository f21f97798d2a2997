"""Python helpers shipped with the tsmoo-kernels distribution beside the `_rust_core` module.

`tsmoo_kernels.blocks` computes the pairwise matrices blockwise with Dask (install the `dask`
extra). Importing this package imports nothing else, so the extension keeps no Dask dependency.
"""
